#include "web/backlog_rule.h"

bool CBacklogRule::MayQueue(std::size_t queued, const Limits& limits, Clock::time_point now) {
  if (queued > limits.max) return false;
  if (queued <= limits.slow) {
    slowSince.reset();
    return true;
  }
  if (!slowSince) {
    slowSince = now;
    return true;
  }
  return now - *slowSince <= limits.patience;
}
