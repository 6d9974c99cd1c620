#pragma once

// Radians to degrees as every line prints angles.
inline constexpr double kDegreesPerRadian = 57.29577951308232;
