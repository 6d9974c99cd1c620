#pragma once

#include <QObject>

class CLcdModel;

// The document of the single-document window: the receiver's LCD model, which the connection
// control keeps and fills from display reports, and the update of every view with a hint. Nothing
// is ever saved, so creating the document changes neither the title nor any setting.
class CButtonTestDoc : public QObject {
  Q_OBJECT
 public:
  explicit CButtonTestDoc(QObject* parent = nullptr);

  // The model the views draw; the view that owns the connection sets it. Null until then.
  void SetLcdModel(const CLcdModel* model) { lcd = model; }
  const CLcdModel* LcdModel() const { return lcd; }

  // Every view redraws by `hint`: 99 the LCD area and both rows, 100 + row one row.
  void UpdateAllViews(int hint) { emit Updated(hint); }

 signals:
  void Updated(int hint);

 private:
  const CLcdModel* lcd = nullptr;
};
