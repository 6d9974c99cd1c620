#include "web/key_rate_limiter.h"

bool CKeyRateLimiter::Allow(Clock::time_point now) {
  if (count == kPerSecond && now - recent[next] < kWindow) {
    ++dropped;
    return false;
  }
  recent[next] = now;
  next = (next + 1) % kPerSecond;
  if (count < kPerSecond) ++count;
  return true;
}
