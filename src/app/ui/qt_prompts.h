#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <string>

#include "link/protocol/prompts.h"

// Message boxes on the screen. Must be created on the UI thread; MessageBox may be called from any
// thread: off the UI thread the call is carried over with a blocking queued call, so the calling
// worker waits for the user's answer. A worker must therefore never call it while the UI thread
// waits for that worker.
class CQtPrompts final : public QObject, public IPrompts {
  Q_OBJECT
 public:
  explicit CQtPrompts(QObject* parent = nullptr);
  ~CQtPrompts() override;

  // The window the boxes are centred on and modal to; none until the main window exists.
  void SetParentWidget(QWidget* widget) { parentWidget = widget; }

  PromptAnswer MessageBox(const std::string& text, const std::string& caption = "Plowview",
                          PromptIcon icon = PromptIcon::Exclamation,
                          PromptButtons buttons = PromptButtons::Ok) override;
  // One window without a modal loop: the program runs on while it shows. Notices that come while
  // it is open are added to it (the latest kMaxNoticeLines), so a station left alone collects one
  // window, not one per failure. From any thread; never waits.
  void Notify(const std::string& text) override;

  static constexpr int kMaxNoticeLines = 20;
  // The notice window while it is open; for tests.
  QMessageBox* NoticeBox() const { return noticeBox.data(); }

 private:
  PromptAnswer ShowOnUiThread(const std::string& text, const std::string& caption, PromptIcon icon,
                              PromptButtons buttons);
  void NotifyOnUiThread(const QString& text);

  QPointer<QWidget> parentWidget;
  QPointer<QMessageBox> noticeBox;
  QStringList noticeLines;
};
