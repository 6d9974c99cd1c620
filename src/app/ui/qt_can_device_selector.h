#pragma once

#include <QObject>
#include <memory>

#include "link/can/can_device_selector.h"

class IPrompts;
class QWidget;

// The window's receiver choice: the "Select Device By Address" dialog (CCanAddrDlg), shown
// modally on the UI thread while the CAN connect thread waits for the answer. Lives on the UI
// thread; `prompts` and `parent` must outlive it. CancelSelection closes a dialog still open.
class CQtCanDeviceSelector final : public QObject, public ICanDeviceSelector {
  Q_OBJECT
 public:
  CQtCanDeviceSelector(IPrompts& prompts, QWidget* parent);
  ~CQtCanDeviceSelector() override;

  int SelectDevice(const std::vector<std::string>& entries) override;
  void CancelSelection() override;

 private:
  struct Pending;
  IPrompts& prompts;
  QWidget* parent;
  std::shared_ptr<Pending> current;  // guarded by Pending::lock of the current selection
};
