#include "app/ui/qt_can_device_selector.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "app/ui/can_addr_dlg.h"
#include "support/prompt_recorder.h"

namespace {

// The open selection dialog, or null.
CCanAddrDlg* OpenDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dlg = qobject_cast<CCanAddrDlg*>(w); dlg && dlg->isVisible()) return dlg;
  return nullptr;
}

// Runs `select` on a connect thread and `act` on the UI thread once the dialog is open (the
// dialog's own loop is running then, so the test acts from a timer inside it). The answer.
int SelectWhile(CQtCanDeviceSelector& selector, const std::vector<std::string>& entries,
                const std::function<void(CCanAddrDlg&)>& act) {
  std::atomic<int> answer{-2};
  std::thread connectThread([&] { answer = selector.SelectDevice(entries); });
  bool acted = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (acted) return;
    if (CCanAddrDlg* dlg = OpenDialog()) {
      acted = true;
      act(*dlg);
    }
  });
  poll.start();
  for (int i = 0; i < 1000 && answer.load() == -2; ++i) QTest::qWait(10);
  poll.stop();
  connectThread.join();
  EXPECT_TRUE(acted);
  return answer.load();
}

// The connect thread asks; the dialog runs on the UI thread; OK needs a selection.
TEST(QtCanDeviceSelector, DialogOnUiThread_OkNeedsSelection_AnswerIsTheChosenIndex) {
  CPromptRecorder prompts;
  CQtCanDeviceSelector selector(prompts, nullptr);
  const int answer = SelectWhile(selector, {"40", "41"}, [&](CCanAddrDlg& dlg) {
    ASSERT_EQ(dlg.List()->count(), 2);
    QPushButton* ok = dlg.findChild<QPushButton*>("c1");
    ok->click();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Please select a device to connect to."});
    EXPECT_TRUE(dlg.isVisible());
    dlg.List()->setCurrentRow(1);
    ok->click();
  });
  EXPECT_EQ(answer, 1);
}

TEST(QtCanDeviceSelector, CancelButtonAndCancelSelection_AnswerMinusOne) {
  CPromptRecorder prompts;
  CQtCanDeviceSelector selector(prompts, nullptr);
  EXPECT_EQ(
      SelectWhile(selector, {"40"}, [](CCanAddrDlg& dlg) { dlg.findChild<QPushButton*>("c2")->click(); }),
      -1);
  // The link closing while the dialog is open: the connect thread is released, the dialog goes.
  EXPECT_EQ(SelectWhile(selector, {"40"}, [&](CCanAddrDlg&) { selector.CancelSelection(); }), -1);
  QTest::qWait(50);
  EXPECT_EQ(OpenDialog(), nullptr);
  EXPECT_TRUE(prompts.Texts().empty());
}

}  // namespace
