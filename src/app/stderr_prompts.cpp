#include "app/stderr_prompts.h"

#include "app/stderr_lines.h"
CStderrPrompts::CStderrPrompts(std::FILE* out) : out(out) {}

PromptAnswer CStderrPrompts::MessageBox(const std::string& text, const std::string& /*caption*/,
                                        PromptIcon /*icon*/, PromptButtons buttons) {
  const std::string line = FormatStderrLine(StderrLineName(), text);
  {
    std::lock_guard<std::mutex> hold(lock);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  }
  switch (buttons) {
    case PromptButtons::Ok:
      return PromptAnswer::Ok;
    case PromptButtons::OkCancel:
      return PromptAnswer::Cancel;
    case PromptButtons::YesNo:
    case PromptButtons::YesNoCancel:
      break;
  }
  return PromptAnswer::No;
}
