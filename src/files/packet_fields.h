#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

// Helpers for the file packets: text fields read without leaving the packet. Received packets
// here always end in a two-byte checksum trailer, which is never part of a field.

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
