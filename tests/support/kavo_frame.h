#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/protocol/kavo_packet.h"

// The frame of packet `id` with `payload` as it crosses the line (and as the raw packet log
// keeps it); `withChecksum` 1 appends the payload's sum. A payload longer than a packet holds
// is cut to kKavoMaxData bytes, which the frame builder then refuses (an empty result).
inline std::vector<std::uint8_t> KavoFrame(std::uint8_t id, const std::vector<std::uint8_t>& payload,
                                           int withChecksum) {
  KavoPacket p;
  p.id = id;
  const std::size_t n = std::min(payload.size(), kKavoMaxData);
  std::copy(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n), p.data);
  p.length = static_cast<std::uint16_t>(n);
  std::vector<std::uint8_t> out(KavoFrameCapacity(p.length));
  std::uint16_t length = 0;
  if (!BuildFrame(p, out.data(), length, withChecksum)) length = 0;
  out.resize(length);
  return out;
}

// The frame as the program writes it to the receiver: the frame followed by two NULs.
inline std::vector<std::uint8_t> PaddedKavoFrame(std::uint8_t id, const std::vector<std::uint8_t>& payload,
                                                 bool withChecksum = true) {
  std::vector<std::uint8_t> out = KavoFrame(id, payload, withChecksum ? 1 : 0);
  out.push_back(0x00);
  out.push_back(0x00);
  return out;
}
