#include "app/lcd_model.h"

#include "link/protocol/kavo_ids.h"

std::uint8_t CLcdModel::MapCharacter(std::uint8_t c) {
  if (c == 0x40) return 0x6B;
  if (c >= 0xA0 && c <= 0xAF) return static_cast<std::uint8_t>(c - 0x20);
  if (c >= 0xB0 && c <= 0xBF) return 0x20;
  if (c >= 0xC0) return static_cast<std::uint8_t>(c - 0x30);
  return c;
}

bool CLcdModel::IsDisplayReport(const KavoPacket& packet) {
  return packet.id == kavo::kIdSuperReport && packet.length >= 2 && packet.data[0] == kavo::kSubPanel &&
         packet.data[1] == kavo::kPanelDisplay;
}

CLcdModel::ReportResult CLcdModel::ApplyDisplayReport(const KavoPacket& packet) {
  ReportResult result;
  if (!IsDisplayReport(packet) || packet.length != 31 || !packet.checksumOk) return result;
  const std::uint8_t row = packet.data[5];
  if (row > 1) return result;
  result.accepted = true;
  result.row = row;

  const std::uint8_t reportedCursor = packet.data[4];
  if (reportedCursor != cursorOn) {
    cursorOn = reportedCursor;
    if (cursorOn) {
      blinkPhase = 1;
      result.cursorSwitchedOn = true;
    } else {
      blinkPhase = 0;
      result.cursorSwitchedOff = true;
    }
  }
  if (cursorOn) {
    cursorColumn = packet.data[2];
    cursorRow = packet.data[3];
  }

  // Seventeen character bytes; the seventeenth is forced to 0, and a 0 ends the text early.
  std::string text;
  for (int i = 0; i < kColumns; ++i) {
    const std::uint8_t c = packet.data[6 + i];
    if (c == 0) break;
    text.push_back(static_cast<char>(MapCharacter(c)));
  }
  lines[row] = text;
  return result;
}

std::string CLcdModel::ConnectedRowText(int row) const {
  if (row < 0 || row >= kRows) return {};
  std::string text = lines[row];
  if (cursorRow == row && blinkPhase == 1 && cursorColumn < text.size()) {
    text[cursorColumn] = static_cast<char>(kCursorGlyph);
  }
  return text;
}
