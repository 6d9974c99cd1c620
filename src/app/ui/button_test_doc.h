#pragma once

#include <QObject>

// The document of the single-document window. The program keeps no document data: the view holds
// the connection and the display, and nothing is ever saved, so creating the document changes
// neither the title nor any setting.
class CButtonTestDoc : public QObject {
  Q_OBJECT
 public:
  explicit CButtonTestDoc(QObject* parent = nullptr);
};
