#pragma once

#include <QObject>
#include <QPointer>
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

  // The window the boxes are centred on and modal to; none until the main window exists.
  void SetParentWidget(QWidget* widget) { parentWidget = widget; }

  PromptAnswer MessageBox(const std::string& text, const std::string& caption = "Plowview",
                          PromptIcon icon = PromptIcon::Exclamation,
                          PromptButtons buttons = PromptButtons::Ok) override;

 private:
  PromptAnswer ShowOnUiThread(const std::string& text, const std::string& caption, PromptIcon icon,
                              PromptButtons buttons);

  QPointer<QWidget> parentWidget;
};
