#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/protocol/kavo_packet.h"

// Field conversions shared by the DAT record classes: big-endian packet fields to host values,
// host values into little-endian record bodies, and big-endian field images into bodies.

// True when the packet's data holds `end` bytes (and its length is a sane one).
inline bool PacketCovers(const KavoPacket& packet, std::size_t end) {
  return packet.length <= kKavoMaxData && end <= packet.length;
}

// Reads of big-endian fields; the caller has checked the bounds.
template <typename T>
T ReadBeField(const std::uint8_t* p) {
  T value;
  ReverseBytes(p, reinterpret_cast<std::uint8_t*>(&value), sizeof(T));
  return value;
}
inline double ReadBeF64(const std::uint8_t* p) {
  return ReadBeField<double>(p);
}
inline float ReadBeF32(const std::uint8_t* p) {
  return ReadBeField<float>(p);
}
inline std::int16_t ReadBeI16(const std::uint8_t* p) {
  return ReadBeField<std::int16_t>(p);
}

// Stores a host-order (little-endian) value at `p`.
template <typename T>
void PutLe(std::uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof(T));
}

// One field of a big-endian image: its width and whether its bytes are reversed (numbers) or
// copied unchanged (byte blocks).
struct DatField {
  std::uint8_t width;
  bool numeric;
};

// Total width of a field sequence.
std::size_t DatImageWidth(const DatField* fields, std::size_t count);

// Converts the field sequence from `image` into `body`; both have the same layout.
void ConvertDatImage(const DatField* fields, std::size_t count, const std::uint8_t* image,
                     std::uint8_t* body);

// Truncation toward zero into an i32. False for NaN and values outside the i32 range, where a
// plain conversion would be undefined.
bool TruncToI32(double value, std::int32_t& out);

// Radians to semicircles.
inline constexpr double kDatPi = 3.141592653589793;
