#pragma once

#include <QDialog>

// "Link Not Available": tells the user that the link is not open ("Port Not Open"), with "OK" and
// "Cancel", both of which only close it. Shown modally by the command panel.
class CLinkNotAvailableDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CLinkNotAvailableDlg(QWidget* parent = nullptr);
};
