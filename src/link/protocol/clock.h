#pragma once

#include <cstdint>

// The program clock: steady milliseconds since program start. Logic that times out or paces
// itself takes one of these, so tests advance a fake instead of sleeping.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual std::int64_t NowMs() const = 0;
};

// The real clock on std::chrono::steady_clock, counted from the first use in the process.
class CSteadyClock final : public IClock {
 public:
  std::int64_t NowMs() const override;
  static CSteadyClock& Instance();
};
