#pragma once

#include <array>
#include <chrono>
#include <cstddef>

// At most kPerSecond keys from one page in any second: a page (or a script posing as one) that
// sends faster has the surplus dropped, so it cannot flood the receiver's panel.
class CKeyRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kPerSecond = 20;
  static constexpr Clock::duration kWindow = std::chrono::seconds(1);

  // True (and the key counted) when fewer than kPerSecond keys were let through in the second
  // before `now`; false when the key is to be dropped.
  bool Allow(Clock::time_point now);
  // Keys refused so far.
  std::size_t Dropped() const { return dropped; }

 private:
  std::array<Clock::time_point, kPerSecond> recent{};  // ring of the last keys let through
  std::size_t next = 0;                                // the oldest entry once the ring is full
  std::size_t count = 0;
  std::size_t dropped = 0;
};
