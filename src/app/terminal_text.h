#pragma once

#include <string>
#include <string_view>

// Receiver text as headless mode prints it on a terminal: nothing from the receiver may reach
// the terminal as a control code.

// Control bytes and DEL become '?'; other bytes (UTF-8 in file names) are kept.
std::string PrintableText(std::string_view text);

// An LCD row: every byte outside printable ASCII becomes '?' (codes above 0x7F are glyphs of the
// panel's font), and the row is cut or padded with blanks to the display's 16 columns.
std::string PrintableLcdRow(std::string_view text);
