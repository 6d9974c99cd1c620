#pragma once

#include <string>

// The one way logic shows a message box or asks a question. The GUI shows Qt message boxes,
// headless mode writes "plowview: TEXT" to stderr and answers No, tests record and script.
// Implementations must be callable from any thread; a call from a worker blocks only that worker
// until the user answers.
enum class PromptIcon { None, Information, Exclamation, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

class IPrompts {
 public:
  virtual ~IPrompts() = default;
  virtual PromptAnswer MessageBox(const std::string& text, const std::string& caption = "Plowview",
                                  PromptIcon icon = PromptIcon::Exclamation,
                                  PromptButtons buttons = PromptButtons::Ok) = 0;
  // A message that wants no answer and must not hold the caller up: a failure seen while the work
  // goes on (a log file that cannot be written). The window shows it without waiting for the
  // user; elsewhere it is a plain message box (headless: one "plowview: TEXT" line).
  virtual void Notify(const std::string& text) {
    MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
  }
};
