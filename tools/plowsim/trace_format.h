#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Lines of the simulator's trace (see README.md for the whole format). Packets read
//   "RX 8E 8C 01 00 8D"
// direction, identifier, then every payload byte as it crossed the line, a checksum trailer
// included; hex in upper case, one blank between bytes; a packet without payload is "RX 21".
std::string FormatPacketLine(std::string_view direction, std::uint8_t id, const std::uint8_t* payload,
                             std::size_t length);

// Text outside frames, in double quotes: printable ASCII as is, \r \n \t \" \\ escaped, every
// other byte as \xNN (upper-case hex).
std::string QuoteText(std::string_view text);
