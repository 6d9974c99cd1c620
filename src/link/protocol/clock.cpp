#include "link/protocol/clock.h"

#include <chrono>

namespace {
const auto kProgramStart = std::chrono::steady_clock::now();
}

std::int64_t CSteadyClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               kProgramStart)
      .count();
}

CSteadyClock& CSteadyClock::Instance() {
  static CSteadyClock clock;
  return clock;
}
