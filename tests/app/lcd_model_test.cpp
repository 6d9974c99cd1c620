#include "app/lcd_model.h"
#include "link/protocol/kavo_ids.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void Seal(KavoPacket& p) {
  std::uint16_t sum = 0;
  for (int i = 0; i < 29; ++i) sum = static_cast<std::uint16_t>(sum + p.data[i]);
  p.data[29] = static_cast<std::uint8_t>(sum >> 8);
  p.data[30] = static_cast<std::uint8_t>(sum);
  VerifyChecksum(p);
}

// A display report as the receiver sends it: 8C 01 column row on displayRow 17 chars + checksum.
KavoPacket DisplayReport(int displayRow, const std::string& text, int cursorOn = 0, int column = 0,
                         int cursorRow = 0, std::uint8_t seventeenth = 0) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.length = 31;
  p.data[0] = 0x8C;
  p.data[1] = 0x01;
  p.data[2] = static_cast<std::uint8_t>(column);
  p.data[3] = static_cast<std::uint8_t>(cursorRow);
  p.data[4] = static_cast<std::uint8_t>(cursorOn);
  p.data[5] = static_cast<std::uint8_t>(displayRow);
  for (int i = 0; i < 16; ++i) p.data[6 + i] = i < static_cast<int>(text.size()) ? text[i] : ' ';
  p.data[22] = seventeenth;
  Seal(p);
  return p;
}

TEST(LcdModel, CharacterMappingTable) {
  const struct {
    std::uint8_t in, out;
  } cases[] = {{0x40, 0x6B}, {0xA0, 0x80}, {0xAF, 0x8F}, {0xB0, 0x20}, {0xBF, 0x20},
               {0xC0, 0x90}, {0xFF, 0xCF}, {0x41, 0x41}, {0x9F, 0x9F}, {0x00, 0x00}};
  for (const auto& c : cases) EXPECT_EQ(CLcdModel::MapCharacter(c.in), c.out) << int(c.in);
}

TEST(LcdModel, SeventeenthCharacterNotZero_StillSixteenCharacters) {
  CLcdModel lcd;
  auto r = lcd.ApplyDisplayReport(DisplayReport(1, "0123456789ABCDEF", 0, 0, 0, 'Z'));
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(r.row, 1);
  EXPECT_EQ(lcd.lines[1], "0123456789ABCDEF");
}

TEST(LcdModel, ZeroCharacterEndsTheRowAndMappingApplies) {
  CLcdModel lcd;
  auto p = DisplayReport(0, "AB@");
  p.data[9] = 0;  // after "AB@"
  Seal(p);
  ASSERT_TRUE(lcd.ApplyDisplayReport(p).accepted);
  EXPECT_EQ(lcd.lines[0], "AB\x6B");
}

TEST(LcdModel, BadReports_ChangeNothing) {
  CLcdModel lcd;
  lcd.lines[0] = "before";
  auto wrongLength = DisplayReport(0, "X");
  wrongLength.length = 30;
  auto badSum = DisplayReport(0, "X");
  badSum.checksumOk = 0;
  auto row2 = DisplayReport(2, "X");
  for (const auto& p : {wrongLength, badSum, row2}) {
    EXPECT_FALSE(lcd.ApplyDisplayReport(p).accepted);
    EXPECT_EQ(lcd.lines[0], "before");
    EXPECT_EQ(lcd.cursorOn, 0);
  }
}

TEST(LcdModel, CursorOffKeepsPositionAndStopsBlink) {
  CLcdModel lcd;
  auto on = lcd.ApplyDisplayReport(DisplayReport(0, "EDIT FIELD", 1, 5, 0));
  EXPECT_TRUE(on.cursorSwitchedOn);
  EXPECT_EQ(lcd.blinkPhase, 1u);
  EXPECT_EQ(lcd.cursorColumn, 5);
  auto off = lcd.ApplyDisplayReport(DisplayReport(0, "EDIT FIELD", 0, 9, 1));
  EXPECT_TRUE(off.cursorSwitchedOff);
  EXPECT_EQ(lcd.blinkPhase, 0u);
  EXPECT_EQ(lcd.cursorColumn, 5);
  EXPECT_EQ(lcd.cursorRow, 0);
  // A second "on" report while on does not restart the blink.
  lcd.ApplyDisplayReport(DisplayReport(0, "EDIT FIELD", 1, 2, 0));
  EXPECT_FALSE(lcd.ApplyDisplayReport(DisplayReport(0, "EDIT FIELD", 1, 3, 0)).cursorSwitchedOn);
}

TEST(LcdModel, CursorDrawnOnlyInVisiblePhaseWithinText) {
  CLcdModel lcd;
  lcd.ApplyDisplayReport(DisplayReport(1, "ABC", 1, 1, 1));
  lcd.lines[1] = "ABC";
  EXPECT_EQ(lcd.ConnectedRowText(1),
            "A\xFF"
            "C");
  EXPECT_EQ(lcd.ConnectedRowText(0), "");
  lcd.Blink();
  EXPECT_EQ(lcd.ConnectedRowText(1), "ABC");
  lcd.Blink();
  lcd.cursorColumn = 3;  // beyond the text
  EXPECT_EQ(lcd.ConnectedRowText(1), "ABC");
  EXPECT_EQ(lcd.ConnectedRowText(2), "");
}

}  // namespace
