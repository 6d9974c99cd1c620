#pragma once

#include <cstddef>
#include <cstdint>

// Radians to degrees as every line prints angles.
inline constexpr double kDegreesPerRadian = 57.29577951308232;

// Seconds in a GPS week.
inline constexpr std::int64_t kSecondsPerWeek = 604800;

// The checksum that ends a packet's payload, as the payload lengths the formatters check count it.
inline constexpr std::size_t kChecksumBytes = 2;
