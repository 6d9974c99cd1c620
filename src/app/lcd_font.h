#pragma once

#include <array>
#include <cstdint>

// The panel's LCD character generator: a 5 x 8 dot matrix per code, stored as five columns, left
// to right; bit 0 of a column is the top dot, bit 6 the bottom row of a letter, bit 7 the row
// below it (descenders, the cedilla, the block cursor). Codes 0x20-0x7E are ASCII; 0x80-0xCF are
// the codes the display character mapping produces for the receiver's own characters (arrows,
// symbols, bar graph steps, accented letters); 0xFF is the full block the cursor is drawn with.
// Every other code has no glyph and shows as an empty cell.
namespace LcdFont {

inline constexpr int kColumns = 5;
inline constexpr int kRows = 8;
using Glyph = std::array<std::uint8_t, kColumns>;

// The glyph of `code`, or nullptr when the font has none.
const Glyph* Find(std::uint8_t code);

// Whether the dot at (column, row) of `code` is lit; false for codes without a glyph and for
// positions outside the matrix.
bool Dot(std::uint8_t code, int column, int row);

}  // namespace LcdFont
