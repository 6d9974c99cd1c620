#pragma once

#include <atomic>

#include "link/protocol/prompts.h"

// Passes every message on to `inner`, except while muted: then a message is dropped and answered
// as if the user had pressed the default button. For the link's own failure messages while the
// link reopens itself; callable from any thread, like every IPrompts.
class CMutedPrompts final : public IPrompts {
 public:
  explicit CMutedPrompts(IPrompts& inner) : inner(inner) {}

  void SetMuted(bool on) { muted = on; }
  bool Muted() const { return muted.load(); }

  PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptIcon icon,
                          PromptButtons buttons) override {
    if (!muted.load()) return inner.MessageBox(text, caption, icon, buttons);
    return (buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoCancel) ? PromptAnswer::No
                                                                                      : PromptAnswer::Ok;
  }
  // A notice stays one that does not wait for the user.
  void Notify(const std::string& text) override {
    if (!muted.load()) inner.Notify(text);
  }

 private:
  IPrompts& inner;
  std::atomic<bool> muted{false};
};
