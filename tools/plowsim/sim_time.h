#pragma once

#include <cstdint>
#include <string>

#include "link/protocol/clock.h"

// The receiver's idea of the time: a UTC instant fixed at construction that runs on with the
// program clock, `scale` simulated seconds per real second. Nothing here reads the wall clock;
// the caller picks the start (the system time, or a --start-time).
class CSimTime {
 public:
  // `clock` must outlive this object.
  CSimTime(const IClock& clock, std::int64_t startUtcMs, double scale);

  // Simulated UTC, milliseconds since 1970-01-01.
  std::int64_t UtcMs() const;
  // Real milliseconds since construction (fault timers count in real time).
  std::int64_t ElapsedMs() const;

 private:
  const IClock& clock;
  std::int64_t startClockMs;
  std::int64_t startUtcMs;
  double scale;
};

// GPS time of a UTC instant: GPS runs ahead of UTC by the leap seconds.
struct GpsTime {
  std::uint16_t week = 0;
  double timeOfWeek = 0;  // seconds
};
inline constexpr int kGpsLeapSeconds = 18;
GpsTime GpsTimeFromUtcMs(std::int64_t utcMs);

// Reads "YYYY-MM-DDTHH:MM:SS" with an optional fraction and an optional "Z" (a blank may stand
// for the T); the time is UTC. False for anything else, leaving `utcMs` untouched.
bool ParseIsoUtc(const std::string& text, std::int64_t& utcMs);
