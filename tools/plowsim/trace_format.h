#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct KavoPacket;

// Lines of the simulator's trace (see README.md for the whole format). Packets read
//   "RX 8E 8C 01 00 8D"
// direction, identifier, then every payload byte as it crossed the line, a checksum trailer
// included; hex in upper case, one blank between bytes; a packet without payload is "RX 21".
std::string FormatPacketLine(std::string_view direction, std::uint8_t id, const std::uint8_t* payload,
                             std::size_t length);

// A packet the simulator sends, as it crossed the line: with `withChecksum` 1 its payload is
// followed by the two checksum bytes.
std::string FormatSentPacketLine(std::string_view direction, const KavoPacket& packet, int withChecksum);

// Text outside frames, in double quotes: printable ASCII as is, \r \n \t \" \\ escaped, every
// other byte as \xNN (upper-case hex).
std::string QuoteText(std::string_view text);
