#pragma once

#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

// The receiver's two-line, sixteen-character display as last reported, after character mapping.
// Plain data plus the display report rules; the window draws it, the connection control feeds it.
class CLcdModel {
 public:
  static constexpr int kRows = 2;
  static constexpr int kColumns = 16;
  static constexpr std::uint8_t kCursorGlyph = 0xFF;  // the LCD font draws it as a full block

  // What a display report changed, for the caller's timers and redraws.
  struct ReportResult {
    bool accepted = false;
    int row = -1;
    bool cursorSwitchedOn = false;
    bool cursorSwitchedOff = false;
  };

  // Maps a received display character to the code the LCD font is built for.
  static std::uint8_t MapCharacter(std::uint8_t c);

  // True for id 0x8F with 8C 01 in the first two bytes, whatever its other fields.
  static bool IsDisplayReport(const KavoPacket& packet);

  // Applies a display report: accepted only with length exactly 31, a good checksum and row 0 or
  // 1; anything else changes nothing. The seventeenth character is always cut off.
  ReportResult ApplyDisplayReport(const KavoPacket& packet);

  // Toggles the blink phase (timer tick).
  void Blink() { blinkPhase = blinkPhase == 0 ? 1 : 0; }

  // The text to draw for `row` while connected: the stored line with the character under a
  // visible blinking cursor replaced by the block glyph. Empty for rows other than 0 and 1.
  std::string ConnectedRowText(int row) const;

  std::string lines[kRows];
  std::uint8_t cursorOn = 0;
  std::uint8_t cursorColumn = 0;
  std::uint8_t cursorRow = 0;
  std::uint32_t blinkPhase = 0;
};
