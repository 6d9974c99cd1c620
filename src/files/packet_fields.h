#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

// Helpers for the file packets: big-endian stores, and text fields read without leaving the
// packet. Received packets here always end in a two-byte checksum trailer, which is never part
// of a field.

inline void PutBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Payload bytes before the checksum trailer (0 when the packet is shorter than a trailer).
inline std::size_t FieldEnd(const KavoPacket& packet) {
  const std::size_t length = packet.length > kKavoMaxData ? kKavoMaxData : packet.length;
  return length >= 2 ? length - 2 : 0;
}

// Text starting at `from` up to the first NUL, at most `maxChars` bytes and never past `end`.
inline std::string TextField(const KavoPacket& packet, std::size_t from, std::size_t end,
                             std::size_t maxChars) {
  if (end > kKavoMaxData) end = kKavoMaxData;
  if (from >= end) return {};
  if (end - from > maxChars) end = from + maxChars;
  std::size_t stop = from;
  while (stop < end && packet.data[stop] != 0) ++stop;
  return std::string(reinterpret_cast<const char*>(packet.data + from), stop - from);
}
