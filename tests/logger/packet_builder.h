#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// Builds big-endian payloads for formatter tests: CBytes().U8(1).F32(2.5f).F64(...).
class CBytes {
 public:
  CBytes& U8(int v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  CBytes& U16(int v) { return U8(v >> 8).U8(v); }
  CBytes& U32(std::uint32_t v) {
    return U8(static_cast<int>(v >> 24))
        .U8(static_cast<int>(v >> 16))
        .U8(static_cast<int>(v >> 8))
        .U8(static_cast<int>(v));
  }
  CBytes& F32(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
  }
  CBytes& F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return U32(static_cast<std::uint32_t>(bits >> 32)).U32(static_cast<std::uint32_t>(bits));
  }
  CBytes& Fill(std::size_t n, int v = 0) {
    bytes.insert(bytes.end(), n, static_cast<std::uint8_t>(v));
    return *this;
  }
  CBytes& Text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  // Pads with zero bytes up to `n` bytes in all.
  CBytes& PadTo(std::size_t n) {
    if (bytes.size() < n) bytes.resize(n, 0);
    return *this;
  }
  std::size_t Size() const { return bytes.size(); }
  std::vector<std::uint8_t> bytes;
};

inline KavoPacket MakePacket(std::uint8_t id, const std::vector<std::uint8_t>& data,
                             std::uint8_t checksumOk = 0) {
  KavoPacket p;
  p.id = id;
  p.length = static_cast<std::uint16_t>(data.size());
  if (!data.empty()) std::memcpy(p.data, data.data(), data.size());
  p.checksumOk = checksumOk;
  return p;
}

// A super-packet 0x8F: `body` (sub-identifier first) with its 16-bit sum appended, checksumOk set.
inline KavoPacket MakeSuper(const CBytes& body) {
  std::vector<std::uint8_t> data = body.bytes;
  std::uint16_t sum = 0;
  for (auto b : data) sum = static_cast<std::uint16_t>(sum + b);
  data.push_back(static_cast<std::uint8_t>(sum >> 8));
  data.push_back(static_cast<std::uint8_t>(sum));
  return MakePacket(0x8F, data, 1);
}

// A super-packet whose body is padded so that the whole data length, checksum included, is `length`.
inline KavoPacket MakeSuperOfLength(CBytes body, std::size_t length) {
  body.PadTo(length - 2);
  return MakeSuper(body);
}
