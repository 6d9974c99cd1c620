#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "link/protocol/prompts.h"

// Message boxes for a run without a window: each text goes out as one "plowview: TEXT" line and
// the answer is the one that changes nothing: Ok for a plain message, Cancel for Ok/Cancel, No for
// every question. Callable from any thread; lines from different threads never interleave.
class CStderrPrompts final : public IPrompts {
 public:
  // `out` is borrowed and must outlive this object; stderr unless a test gives another stream.
  explicit CStderrPrompts(std::FILE* out = stderr);

  PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptIcon icon,
                          PromptButtons buttons) override;

 private:
  std::FILE* out;
  std::mutex lock;
};
