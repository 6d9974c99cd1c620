#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// A received packet `id` with `payload` and its 16-bit sum appended, as the parser hands over a
// checksummed packet (checksumOk set). The payload must leave room for the two trailer bytes.
inline KavoPacket ChecksummedPacket(std::uint8_t id, std::vector<std::uint8_t> payload) {
  KavoPacket p;
  p.id = id;
  const std::uint16_t sum = KavoPayloadSum(payload.data(), payload.size());
  payload.push_back(static_cast<std::uint8_t>(sum >> 8));
  payload.push_back(static_cast<std::uint8_t>(sum));
  const std::size_t n = std::min(payload.size(), kKavoMaxData);
  std::copy(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n), p.data);
  p.length = static_cast<std::uint16_t>(n);
  VerifyChecksum(p);
  return p;
}

// `head` followed by `text` and its terminating zero.
inline std::vector<std::uint8_t> WithText(std::vector<std::uint8_t> head, const std::string& text) {
  head.insert(head.end(), text.begin(), text.end());
  head.push_back(0);
  return head;
}
