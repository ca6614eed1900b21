#pragma once

// The spans of an experiment's actions, with short labels, for a plot of
// its run.

#include <cstdint>
#include <string>
#include <vector>

#include "varnok/experiment/experiment_file.h"

namespace varnok::experiment {

// Periods from..to (inclusive) that one action writes in, and what it does:
// "MV1 = 30", "MV1 +5" / "MV1 -5" (several tags joined by ", "),
// "SP1 ramp to 35", "MV1 PRBS +/-1". Numbers in their shortest exact form.
struct Mark {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string label;
};

// One per action, in action order.
std::vector<Mark> marks(const Experiment& experiment);

}  // namespace varnok::experiment
