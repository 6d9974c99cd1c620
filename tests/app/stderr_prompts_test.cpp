#include "app/stderr_prompts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Contents(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char buffer[256];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, f)) text.append(buffer, n);
  return text;
}

TEST(StderrPrompts, WritesOneLinePerBoxAndAnswersWithoutChangingAnything) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  CStderrPrompts prompts(out);
  EXPECT_EQ(prompts.MessageBox("Connection lost.", "Plowview", PromptIcon::Exclamation, PromptButtons::Ok),
            PromptAnswer::Ok);
  EXPECT_EQ(prompts.MessageBox("Create it?", "Plowview", PromptIcon::Question, PromptButtons::YesNo),
            PromptAnswer::No);
  EXPECT_EQ(prompts.MessageBox("Save?", "Plowview", PromptIcon::Question, PromptButtons::YesNoCancel),
            PromptAnswer::No);
  EXPECT_EQ(prompts.MessageBox("Go on?", "Plowview", PromptIcon::None, PromptButtons::OkCancel),
            PromptAnswer::Cancel);
  EXPECT_EQ(Contents(out),
            "plowview: Connection lost.\nplowview: Create it?\nplowview: Save?\nplowview: Go on?\n");
  std::fclose(out);
}

}  // namespace
