#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

// The relay's rule for a peer that stops reading, for one page: what it has not read yet may pass
// the slow mark for a while (a phone that is busy for a moment catches up), but a page that stays
// beyond it for longer than the patience, or that passes the hard limit, is given up.
class CBacklogRule {
 public:
  using Clock = std::chrono::steady_clock;
  struct Limits {
    std::size_t slow = 0;
    std::size_t max = 0;
    std::chrono::milliseconds patience{0};
  };

  // Whether a message may be queued when `queued` bytes (the message included) would then wait
  // for the page at `now`; false: give the page up.
  bool MayQueue(std::size_t queued, const Limits& limits, Clock::time_point now);

 private:
  std::optional<Clock::time_point> slowSince;  // since when the queue has stayed beyond the mark
};
