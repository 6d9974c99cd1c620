#include "app/ui/qt_can_device_selector.h"

#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "app/ui/can_addr_dlg.h"

struct CQtCanDeviceSelector::Pending {
  std::mutex lock;
  std::condition_variable answered;
  bool done = false;
  bool cancelled = false;
  int result = -1;
  QPointer<CCanAddrDlg> dialog;  // UI thread only
};

namespace {
std::mutex currentLock;  // guards CQtCanDeviceSelector::current across the two threads
}

CQtCanDeviceSelector::CQtCanDeviceSelector(IPrompts& promptsRef, QWidget* parentWidget)
    : prompts(promptsRef), parent(parentWidget) {}

CQtCanDeviceSelector::~CQtCanDeviceSelector() {
  CancelSelection();
}

int CQtCanDeviceSelector::SelectDevice(const std::vector<std::string>& entries) {
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard guard(currentLock);
    current = pending;
  }
  IPrompts* promptsPtr = &prompts;
  QPointer<QWidget> owner = parent;
  QMetaObject::invokeMethod(
      this,
      [pending, entries, promptsPtr, owner] {
        {
          std::lock_guard guard(pending->lock);
          if (pending->cancelled) return;
        }
        CCanAddrDlg dialog(*promptsPtr, owner.data());
        for (const std::string& entry : entries) dialog.AddEntry(entry);
        pending->dialog = &dialog;
        const bool ok = dialog.exec() == QDialog::Accepted;
        int chosen = -1;
        if (ok)
          for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == dialog.Selected()) chosen = static_cast<int>(i);
        std::lock_guard guard(pending->lock);
        pending->result = chosen;
        pending->done = true;
        pending->answered.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock guard(pending->lock);
  pending->answered.wait(guard, [&pending] { return pending->done || pending->cancelled; });
  return pending->done ? pending->result : -1;
}

void CQtCanDeviceSelector::CancelSelection() {
  std::shared_ptr<Pending> pending;
  {
    std::lock_guard guard(currentLock);
    pending = current;
  }
  if (!pending) return;
  {
    std::lock_guard guard(pending->lock);
    pending->cancelled = true;
    pending->answered.notify_all();
  }
  const auto close = [pending] {
    if (pending->dialog) pending->dialog->reject();
  };
  if (QThread::currentThread() == thread())
    close();
  else
    QMetaObject::invokeMethod(this, close, Qt::QueuedConnection);
}
