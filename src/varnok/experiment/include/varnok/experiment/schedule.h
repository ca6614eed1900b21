#pragma once

// What an experiment writes, period by period. The runner asks before the
// task of each period, 1, 2, 3... in turn, and writes what it gets in the
// order given; ramps and PRBS start from the value in force then.
//
// - set writes its values in period `at`; step writes v0 + delta.
// - ramp writes v0 + (to - v0) * i / n (multiplied, then divided) in period
//   at + i - 1 for i = 1..n-1, and exactly `to` in the last, i = n.
// - prbs splits its periods into blocks of min_hold; each block's level is
//   v0 + amplitude when the top bit of the next draw of a std::mt19937_64
//   seeded with `seed` is 1, else v0 - amplitude. It writes in the first
//   period and whenever the level changes, and writes v0 in period
//   at + periods.
//
// v0 is the tag's value in force before the writes of the action's first
// period, read once.

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "varnok/experiment/experiment_file.h"

namespace varnok::experiment {

struct Write {
  std::string tag;
  double value = 0.0;
};

class Schedule {
 public:
  explicit Schedule(const Experiment& experiment);

  // The writes to make before the task of `period`, in action order (by
  // at, then file order). Periods must come 1, 2, 3... (std::logic_error
  // otherwise). value_in_force(tag) is the plant's value of a tag before any
  // write of this period; it is asked only for the tags tags_needed gives.
  std::vector<Write> writes_before(std::int64_t period,
                                   const std::function<double(std::string_view)>& value_in_force);

  // The tags whose value in force writes_before(period) will ask for: those
  // of the steps, ramps and PRBS starting then, in action order.
  std::vector<std::string> tags_needed(std::int64_t period) const;

 private:
  // A ramp or PRBS after its first period.
  struct Running {
    std::size_t action;  // in actions_
    double v0;
    double level;  // a PRBS's last level written
    std::mt19937_64 draws;
  };

  void start(std::size_t action, const std::function<double(std::string_view)>& value_in_force,
             std::vector<Write>& writes);
  // False once the action has made its last write.
  bool go_on(Running& running, std::int64_t period, std::vector<Write>& writes);

  std::vector<Action> actions_;
  std::size_t next_ = 0;     // the first action not yet started
  std::int64_t period_ = 0;  // the last period asked for
  std::vector<Running> running_;
};

}  // namespace varnok::experiment
