#pragma once

#include <cstdlib>
#include <string>

#include "link/protocol/prompts.h"

// A broken invariant ends the run, so libFuzzer keeps the input that broke it.
inline void Check(bool condition) {
  if (!condition) std::abort();
}

// Prompts for code under fuzzing: every message box is answered OK, nothing is shown.
class CQuietPrompts final : public IPrompts {
 public:
  PromptAnswer MessageBox(const std::string&, const std::string&, PromptIcon, PromptButtons) override {
    return PromptAnswer::Ok;
  }
};
