#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>

class QLabel;
class QPushButton;

// What the "Web Panel" window shows.
struct WebPanelStatus {
  bool running = false;
  QString viewUrl;
  QString controlUrl;
  int pages = 0;
  // Why the panel is off (a failed start), or empty.
  QString problem;
};

// "Web Panel": whether the web panel runs, its two addresses (to look on and to press keys) and a
// QR code of the control address for a phone, with a button that switches it on or off for this
// run. It asks `status` for what to show when it opens and every second while it is shown; the
// button asks `switchPanel` to turn the panel on (true) or off.
class CWebPanelDlg : public QDialog {
  Q_OBJECT
 public:
  CWebPanelDlg(std::function<WebPanelStatus()> status, std::function<void(bool on)> switchPanel,
               QWidget* parent = nullptr);

  // Shows the status as it is now.
  void Refresh();

  QLabel* StateLabel() const { return stateLabel; }
  QLabel* ViewLabel() const { return viewLabel; }
  QLabel* ControlLabel() const { return controlLabel; }
  QLabel* QrLabel() const { return qrLabel; }
  QPushButton* SwitchButton() const { return switchButton; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  std::function<WebPanelStatus()> status;
  std::function<void(bool)> switchPanel;
  bool running = false;
  QString shownQrText;
  QLabel* stateLabel = nullptr;
  QLabel* viewLabel = nullptr;
  QLabel* controlLabel = nullptr;
  QLabel* qrLabel = nullptr;
  QPushButton* switchButton = nullptr;
  QTimer refreshTimer;
};
