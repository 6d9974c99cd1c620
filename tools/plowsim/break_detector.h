#pragma once

#include <cstdint>

// A pseudo-terminal carries no break. What does cross it is the program's clearing of both its
// buffers just before the break (its receive buffer, then its transmit buffer), which the master
// side sees as two packet-mode flush events. A clear of one buffer alone is not a break.
class CBreakDetector {
 public:
  // Both clears must come within this of each other.
  static constexpr std::int64_t kPairWindowMs = 250;

  // One packet-mode status event; `readFlushed` for TIOCPKT_FLUSHREAD, `writeFlushed` for
  // TIOCPKT_FLUSHWRITE (both may come in one event). True when this completes a pair.
  bool OnFlush(bool readFlushed, bool writeFlushed, std::int64_t nowMs);

 private:
  std::int64_t readAt = -1;
  std::int64_t writeAt = -1;
};
