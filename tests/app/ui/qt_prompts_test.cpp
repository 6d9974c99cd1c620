#include "app/ui/qt_prompts.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <thread>

namespace {

struct SeenBox {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool onUiThread = false;
};

// Waits (on the UI thread, spinning its loop) for the next message box, notes what it shows and
// presses `button` in it.
void AnswerNextBox(QMessageBox::StandardButton button, SeenBox& seen) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, button, &seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = {box->text(), box->windowTitle(), box->icon(),
            box->thread() == QApplication::instance()->thread()};
    poll->stop();
    poll->deleteLater();
    box->button(button)->click();
  });
  poll->start(10);
}

TEST(QtPrompts, OnUiThread_ShowsBoxAndReturnsPressedButton) {
  CQtPrompts prompts;
  SeenBox seen;
  AnswerNextBox(QMessageBox::Yes, seen);
  EXPECT_EQ(prompts.MessageBox("The folder:\n[ /x ]\ndoes not exist.", "Plowview", PromptIcon::Question,
                               PromptButtons::YesNo),
            PromptAnswer::Yes);
  EXPECT_EQ(seen.text, "The folder:\n[ /x ]\ndoes not exist.");
  EXPECT_EQ(seen.title, "Plowview");
  EXPECT_EQ(seen.icon, QMessageBox::Question);
}

TEST(QtPrompts, FromWorkerThread_ShownOnUiThreadAndWorkerGetsAnswer) {
  CQtPrompts prompts;
  SeenBox seen;
  AnswerNextBox(QMessageBox::Ok, seen);
  std::atomic<bool> done{false};
  PromptAnswer answer = PromptAnswer::Cancel;
  std::thread worker([&] {
    answer = prompts.MessageBox("Connection lost.", "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
    done = true;
  });
  QElapsedTimer waited;
  waited.start();
  while (!done && waited.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  worker.join();
  EXPECT_EQ(answer, PromptAnswer::Ok);
  EXPECT_EQ(seen.text, "Connection lost.");
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_TRUE(seen.onUiThread);
}

// A notice returns at once, from the UI thread or a worker; the notices share one window, which
// keeps the latest of them and is no modal loop.
TEST(QtPrompts, Notify_ReturnsAtOnceAndNoticesShareOneWindow) {
  CQtPrompts prompts;
  prompts.Notify("cannot write /logs/A_6010714.log: No space left on device");
  QMessageBox* box = prompts.NoticeBox();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  std::thread worker([&] { prompts.Notify("cannot write /logs/A_6010714.kavo: No space left on device"); });
  worker.join();
  QElapsedTimer waited;
  waited.start();
  while (!box->text().contains(".kavo") && waited.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(prompts.NoticeBox(), box);
  EXPECT_EQ(box->text(),
            "cannot write /logs/A_6010714.log: No space left on device\n"
            "cannot write /logs/A_6010714.kavo: No space left on device");
  for (int i = 0; i < CQtPrompts::kMaxNoticeLines + 5; ++i) prompts.Notify("line " + std::to_string(i));
  EXPECT_EQ(box->text().count('\n'), CQtPrompts::kMaxNoticeLines - 1);
  EXPECT_TRUE(box->text().endsWith("line 24"));
}

}  // namespace
