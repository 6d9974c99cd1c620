#pragma once

#include <atomic>
#include <cstdint>

#include "link/protocol/clock.h"

// A program clock that moves only when the test says so.
class CFakeClock final : public IClock {
 public:
  std::int64_t NowMs() const override { return now.load(); }
  void Advance(std::int64_t ms) { now += ms; }
  void Set(std::int64_t ms) { now = ms; }

 private:
  std::atomic<std::int64_t> now{0};
};
