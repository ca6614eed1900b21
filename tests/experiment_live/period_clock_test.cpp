#include "period_clock.h"

#include <gtest/gtest.h>

namespace varnok::experiment_live {
namespace {

using namespace std::chrono_literals;
using Clock = PeriodClock::Clock;

TEST(PeriodClock, PollsATenthOfThePeriodOrOfTheStillTimeBeforeItIsKnownWithinBounds) {
  const Clock::time_point t0{};
  const struct {
    const char* what;
    std::vector<std::pair<std::int64_t, Clock::duration>> seen;  // RunCount at t0 + duration
    Clock::duration now;
    Clock::duration poll;
  } cases[] = {
      {"at the start", {{5, 0ms}}, 0ms, 1ms},
      {"30 ms without a change", {{5, 0ms}}, 30ms, 3ms},
      {"a slow plant before its period is known", {{5, 0ms}}, 10s, 50ms},
      {"one change: no period yet", {{5, 0ms}, {6, 7ms}}, 27ms, 2ms},
      {"100 ms periods", {{5, 0ms}, {6, 7ms}, {8, 207ms}}, 210ms, 10ms},
      {"a change skipped by the client counts as two periods", {{5, 0ms}, {6, 7ms}, {9, 307ms}}, 400ms, 10ms},
      {"5 ms periods", {{5, 0ms}, {6, 1ms}, {16, 51ms}}, 52ms, 1ms},
      {"10 s periods", {{5, 0ms}, {6, 1s}, {7, 11s}}, 12s, 50ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PeriodClock clock(30s);
    for (const auto& [count, at] : c.seen) clock.seen(count, t0 + at);
    EXPECT_EQ(clock.poll_interval(t0 + c.now), c.poll);
  }
}

TEST(PeriodClock, APlantIsStoppedAfterTenPeriodsOrTheFloorWhicheverIsLonger) {
  const Clock::time_point t0{};
  PeriodClock fast(300ms);
  fast.seen(1, t0);
  fast.seen(2, t0 + 10ms);
  fast.seen(3, t0 + 20ms);
  EXPECT_EQ(fast.stall_limit(), 300ms);
  EXPECT_FALSE(fast.stalled(t0 + 319ms));
  EXPECT_TRUE(fast.stalled(t0 + 320ms));
  fast.seen(3, t0 + 319ms);  // the same RunCount read again restarts nothing
  EXPECT_TRUE(fast.stalled(t0 + 320ms));

  PeriodClock slow(300ms);
  slow.seen(1, t0);
  slow.seen(2, t0 + 1s);
  slow.seen(3, t0 + 2s);
  EXPECT_EQ(slow.stall_limit(), 10s);
  EXPECT_FALSE(slow.stalled(t0 + 11s));
  EXPECT_TRUE(slow.stalled(t0 + 12s));
}

}  // namespace
}  // namespace varnok::experiment_live
