#include "app/lcd_font.h"

#include <gtest/gtest.h>

#include <map>

#include "app/lcd_model.h"

namespace {

TEST(LcdFont, EveryMappedDisplayCharacterHasAGlyph) {
  // What the receiver can put on its display, after the character mapping (0 ends a row).
  for (int received = 0x20; received <= 0xFF; ++received) {
    if (received == 0x7F || (received >= 0x80 && received <= 0x9F)) continue;
    const std::uint8_t code = CLcdModel::MapCharacter(static_cast<std::uint8_t>(received));
    EXPECT_NE(LcdFont::Find(code), nullptr) << std::hex << received << " -> " << int(code);
  }
  for (int code = 0x80; code <= 0xCF; ++code)
    EXPECT_NE(LcdFont::Find(static_cast<std::uint8_t>(code)), nullptr);
  for (int code : {0x00, 0x01, 0x1F, 0x7F, 0xD0, 0xFE})
    EXPECT_EQ(LcdFont::Find(static_cast<std::uint8_t>(code)), nullptr);
}

TEST(LcdFont, CursorIsAFullBlockAndSpaceIsEmpty) {
  for (int column = 0; column < LcdFont::kColumns; ++column) {
    for (int row = 0; row < LcdFont::kRows; ++row) {
      EXPECT_TRUE(LcdFont::Dot(CLcdModel::kCursorGlyph, column, row));
      EXPECT_FALSE(LcdFont::Dot(' ', column, row));
    }
  }
  EXPECT_FALSE(LcdFont::Dot(0xFF, -1, 0));
  EXPECT_FALSE(LcdFont::Dot(0xFF, LcdFont::kColumns, 0));
  EXPECT_FALSE(LcdFont::Dot(0xFF, 0, LcdFont::kRows));
}

TEST(LcdFont, GlyphsAreDistinctAndUseOnlyFiveColumns) {
  // A copied row in the table shows as two characters that look the same.
  std::map<LcdFont::Glyph, int> seen;
  auto check = [&](int code) {
    const LcdFont::Glyph* glyph = LcdFont::Find(static_cast<std::uint8_t>(code));
    ASSERT_NE(glyph, nullptr);
    const auto [it, fresh] = seen.emplace(*glyph, code);
    EXPECT_TRUE(fresh) << std::hex << code << " looks like " << it->second;
  };
  for (int code = 0x21; code <= 0x7E; ++code) check(code);
  seen.clear();
  for (int code = 0x80; code <= 0xCF; ++code) check(code);
  // Letters sit in the top seven rows; only a few glyphs reach into the eighth.
  for (int code : {'A', 'M', 'W', '0', '9'})
    for (int column = 0; column < LcdFont::kColumns; ++column) EXPECT_FALSE(LcdFont::Dot(code, column, 7));
  EXPECT_TRUE(LcdFont::Dot('g', 1, 7));
}

}  // namespace
