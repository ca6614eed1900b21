#pragma once

// The plant's period as seen from its RunCount, and what follows from it:
// how often to look for the next RunCount, and when a RunCount that stands
// still means the plant has stopped.

#include <chrono>
#include <cstdint>
#include <optional>

namespace varnok::experiment_live {

class PeriodClock final {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr Clock::duration kShortestPoll = std::chrono::milliseconds(1);
  static constexpr Clock::duration kLongestPoll = std::chrono::milliseconds(50);
  static constexpr int kStallPeriods = 10;

  explicit PeriodClock(Clock::duration stall_floor) : stall_floor_(stall_floor) {}

  // A snapshot's RunCount, read at `at`; the first one starts the clock.
  void seen(std::int64_t run_count, Clock::time_point at);

  // The mean period between the first change seen and the last; none
  // before two changes.
  std::optional<Clock::duration> period() const;
  // A tenth of the period, within kShortestPoll..kLongestPoll. Before it is
  // measured, a tenth of the time RunCount has stood still at `now` (the
  // period is at least that long): a fast plant is polled often from the
  // start, a slow one soon less often.
  Clock::duration poll_interval(Clock::time_point now) const;
  // The longer of stall_floor and kStallPeriods periods.
  Clock::duration stall_limit() const;
  // RunCount has not changed for stall_limit() at `now`.
  bool stalled(Clock::time_point now) const;

 private:
  Clock::duration stall_floor_;
  bool started_ = false;
  std::int64_t last_count_ = 0;
  Clock::time_point last_change_{};  // or the start
  std::optional<std::int64_t> first_change_count_;
  Clock::time_point first_change_{};
};

}  // namespace varnok::experiment_live
