#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Holds the bytes plowsim sends and lets them out no faster than a serial line of a given speed
// would (10 bit times per byte), so throughput over a pseudo-terminal can be measured as on the
// real line. Time from the caller in ms; single-threaded.
class CLinePacer {
 public:
  using PutFn = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
  static constexpr std::size_t kMaxPending = 256 * 1024;

  explicit CLinePacer(int baud);

  // Queues bytes; returns how many had to be dropped because too much is waiting.
  std::size_t Push(const std::uint8_t* bytes, std::size_t count, std::int64_t nowMs);
  // Lets out what the line could have carried by now.
  void Release(std::int64_t nowMs, const PutFn& put);
  // When Release has more to do; far in the future while nothing waits.
  std::int64_t NextDueMs(std::int64_t nowMs) const;
  bool Idle() const { return pending.empty(); }

 private:
  double bytesPerMs;
  std::vector<std::uint8_t> pending;
  std::int64_t startMs = 0;  // start of the current busy spell
  std::uint64_t sent = 0;    // bytes let out since startMs
};
