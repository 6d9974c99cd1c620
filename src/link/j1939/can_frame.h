#pragma once

#include <cstdint>

// One CAN 2.0B data frame with a 29-bit identifier. Standard (11-bit) and remote frames never
// reach this layer: drivers drop them on reception.
inline constexpr std::uint32_t kCanExtendedIdMask = 0x1FFFFFFF;
inline constexpr std::uint8_t kCanMaxLength = 8;

struct CanFrame {
  std::uint32_t id = 0;     // 29-bit identifier; bits above 28 are ignored when sent
  std::uint8_t length = 0;  // data length code, 0..8
  std::uint8_t data[kCanMaxLength] = {};
};
