#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/protocol/kavo_packet.h"

// Big-endian field reads from a packet's payload, bounded by its length. Every formatter checks
// the length it needs first; these bounds are the second line of defence: a field that would
// reach past the payload reads as zero instead of reading stale or foreign bytes.
class CFieldReader {
 public:
  explicit CFieldReader(const KavoPacket& packet)
      : data(packet.data), length(std::min<std::size_t>(packet.length, kKavoMaxData)) {}

  std::size_t Length() const { return length; }
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= length && count <= length - offset;
  }

  std::uint8_t U8(std::size_t offset) const { return Has(offset, 1) ? data[offset] : 0; }
  std::int8_t I8(std::size_t offset) const { return static_cast<std::int8_t>(U8(offset)); }
  std::uint16_t U16(std::size_t offset) const { return Has(offset, 2) ? ReadBe16(data + offset) : 0; }
  std::int16_t I16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
  std::uint32_t U32(std::size_t offset) const { return Has(offset, 4) ? ReadBe32(data + offset) : 0; }
  std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  float F32(std::size_t offset) const {
    const std::uint32_t bits = U32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  double F64(std::size_t offset) const {
    if (!Has(offset, 8)) return 0.0;
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(ReadBe32(data + offset)) << 32) | ReadBe32(data + offset + 4);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // Pointer to `count` bytes at `offset`, or nullptr when they are not all inside the payload.
  const std::uint8_t* Bytes(std::size_t offset, std::size_t count) const {
    return Has(offset, count) ? data + offset : nullptr;
  }

 private:
  const std::uint8_t* data;
  std::size_t length;
};
