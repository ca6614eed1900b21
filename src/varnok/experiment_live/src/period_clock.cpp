#include "period_clock.h"

#include <algorithm>

namespace varnok::experiment_live {

void PeriodClock::seen(std::int64_t run_count, Clock::time_point at) {
  if (started_ && run_count == last_count_) return;
  // A change is timed when it is seen: the first one, at an unknown phase
  // of its period, starts the measurement rather than entering it.
  if (started_ && !first_change_count_) {
    first_change_count_ = run_count;
    first_change_ = at;
  }
  started_ = true;
  last_count_ = run_count;
  last_change_ = at;
}

std::optional<PeriodClock::Clock::duration> PeriodClock::period() const {
  if (!first_change_count_ || last_count_ <= *first_change_count_) return std::nullopt;
  return (last_change_ - first_change_) / (last_count_ - *first_change_count_);
}

PeriodClock::Clock::duration PeriodClock::poll_interval(Clock::time_point now) const {
  const Clock::duration period_or_less = period().value_or(now - last_change_);
  return std::clamp<Clock::duration>(period_or_less / 10, kShortestPoll, kLongestPoll);
}

PeriodClock::Clock::duration PeriodClock::stall_limit() const {
  const auto measured = period();
  return measured ? std::max(stall_floor_, *measured * kStallPeriods) : stall_floor_;
}

bool PeriodClock::stalled(Clock::time_point now) const {
  return started_ && now - last_change_ >= stall_limit();
}

}  // namespace varnok::experiment_live
