#include "line_pacer.h"

#include <algorithm>
#include <cmath>
#include <limits>

CLinePacer::CLinePacer(int baud) : bytesPerMs(baud / 10.0 / 1000.0) {}

std::size_t CLinePacer::Push(const std::uint8_t* bytes, std::size_t count, std::int64_t nowMs) {
  if (pending.empty()) {
    // A line that fell idle has no credit saved up.
    const std::int64_t lineFreeMs = startMs + static_cast<std::int64_t>(std::ceil(sent / bytesPerMs));
    if (nowMs >= lineFreeMs) {
      startMs = nowMs;
      sent = 0;
    }
  }
  const std::size_t room = kMaxPending - pending.size();
  const std::size_t taken = std::min(room, count);
  pending.insert(pending.end(), bytes, bytes + taken);
  return count - taken;
}

void CLinePacer::Release(std::int64_t nowMs, const PutFn& put) {
  if (pending.empty()) return;
  const auto allowed = static_cast<std::uint64_t>(static_cast<double>(nowMs - startMs) * bytesPerMs);
  if (allowed <= sent) return;
  const std::size_t n = std::min<std::uint64_t>(allowed - sent, pending.size());
  put(pending.data(), n);
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
  sent += n;
}

std::int64_t CLinePacer::NextDueMs(std::int64_t nowMs) const {
  if (pending.empty()) return std::numeric_limits<std::int64_t>::max();
  const auto due = startMs + static_cast<std::int64_t>(std::ceil((sent + 1) / bytesPerMs));
  // At least a millisecond: the clock has no finer steps and the loop must not spin.
  return std::max(due, nowMs + 1);
}
