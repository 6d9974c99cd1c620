#include "web/key_rate_limiter.h"

#include <gtest/gtest.h>

#include "web/backlog_rule.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(KeyRateLimiter, TwentyKeysInASecondPass_TheNextIsDroppedUntilTheFirstIsASecondOld) {
  CKeyRateLimiter limiter;
  const Clock::time_point t0{};
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(limiter.Allow(t0 + i * 10ms)) << i;
  EXPECT_FALSE(limiter.Allow(t0 + 200ms));
  EXPECT_FALSE(limiter.Allow(t0 + 999ms));
  EXPECT_TRUE(limiter.Allow(t0 + 1000ms));  // the first key has left the window
  EXPECT_FALSE(limiter.Allow(t0 + 1005ms));
  EXPECT_TRUE(limiter.Allow(t0 + 1010ms));  // and the second
  EXPECT_EQ(limiter.Dropped(), 3u);
}

TEST(KeyRateLimiter, A_SteadyTwentyAPerSecondNeverDrops_FortyAPerSecondLosesHalf) {
  CKeyRateLimiter steady, fast;
  const Clock::time_point t0{};
  int passed = 0;
  for (int i = 0; i < 200; ++i) {
    EXPECT_TRUE(steady.Allow(t0 + i * 50ms)) << i;
    if (fast.Allow(t0 + i * 25ms)) ++passed;
  }
  EXPECT_EQ(passed, 100);
}

TEST(BacklogRule, SlowMarkNeedsThePatienceToRunOut_TheHardLimitDropsAtOnce) {
  const CBacklogRule::Limits limits{100, 1000, 2000ms};
  const Clock::time_point t0{};
  struct Step {
    std::size_t queued;
    std::chrono::milliseconds at;
    bool mayQueue;
  };
  const Step slowThenCatchesUp[] = {{50, 0ms, true},     {150, 10ms, true},   {900, 1500ms, true},
                                    {150, 2010ms, true},  // exactly the patience: still allowed
                                    {80, 2100ms, true},   // below the mark again: the clock restarts
                                    {150, 3000ms, true}, {150, 4999ms, true}, {150, 5001ms, false}};
  CBacklogRule rule;
  for (const Step& s : slowThenCatchesUp)
    EXPECT_EQ(rule.MayQueue(s.queued, limits, t0 + s.at), s.mayQueue) << s.queued << " at " << s.at.count();

  CBacklogRule flooded;
  EXPECT_TRUE(flooded.MayQueue(1000, limits, t0));
  EXPECT_FALSE(flooded.MayQueue(1001, limits, t0 + 1ms));
}

}  // namespace
