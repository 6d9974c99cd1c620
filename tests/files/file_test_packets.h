#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// Byte vectors for the file tests: received packets with their checksum trailer, and the payload
// of sent packets for byte-exact comparison.
namespace filetest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Be16(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
inline Bytes Be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
// The text with its NUL.
inline Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A packet as the parser delivers it: body, then the checksum trailer, checksumOk set.
inline KavoPacket Received(std::uint8_t id, const Bytes& body) {
  KavoPacket p;
  p.id = id;
  std::uint16_t sum = 0;
  std::size_t n = 0;
  for (std::uint8_t b : body) {
    if (n >= kKavoMaxData - 2) break;
    p.data[n++] = b;
    sum = static_cast<std::uint16_t>(sum + b);
  }
  p.data[n++] = static_cast<std::uint8_t>(sum >> 8);
  p.data[n++] = static_cast<std::uint8_t>(sum);
  p.length = static_cast<std::uint16_t>(n);
  VerifyChecksum(p);
  return p;
}

// Recomputes the trailer after a test changed the body.
inline void Reseal(KavoPacket& p) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i + 2 < p.length; ++i) sum = static_cast<std::uint16_t>(sum + p.data[i]);
  p.data[p.length - 2] = static_cast<std::uint8_t>(sum >> 8);
  p.data[p.length - 1] = static_cast<std::uint8_t>(sum);
  VerifyChecksum(p);
}

inline Bytes Payload(const KavoPacket& p) {
  return Bytes(p.data, p.data + p.length);
}

}  // namespace filetest
