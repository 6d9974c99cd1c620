#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/protocol/prompts.h"

// Records every message box and answers from a script (default: Ok for Ok boxes, No otherwise).
class CPromptRecorder final : public IPrompts {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    PromptIcon icon;
    PromptButtons buttons;
  };

  PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptIcon icon,
                          PromptButtons buttons) override {
    std::lock_guard<std::mutex> hold(lock);
    shown.push_back({text, caption, icon, buttons});
    if (!answers.empty()) {
      PromptAnswer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
  }

  void Answer(PromptAnswer a) {
    std::lock_guard<std::mutex> hold(lock);
    answers.push_back(a);
  }
  std::vector<Shown> Taken() {
    std::lock_guard<std::mutex> hold(lock);
    return shown;
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> t;
    for (const auto& s : shown) t.push_back(s.text);
    return t;
  }

 private:
  std::mutex lock;
  std::vector<Shown> shown;
  std::deque<PromptAnswer> answers;
};
