#pragma once

// The rows of a live run as CSV, as varnok-batch prints an offline run:
// a header "period,<recorded tags>", then one line per row, numbers in
// corvex::to_text's form (integers plain, doubles with a point or an
// exponent). Every row is flushed as it comes, so a run that is stopped
// leaves a whole file.

#include <ostream>
#include <string>
#include <vector>

#include "varnok/experiment_live/live_experiment.h"

namespace varnok::experiment_live {

class ResultsCsv final {
 public:
  // Writes the header at once. `out` must outlive this.
  ResultsCsv(std::ostream& out, const std::vector<std::string>& tags);

  // Throws RunError when the stream has failed (a full disk, a closed pipe).
  void write(const Row& row);

 private:
  void check();

  std::ostream& out_;
};

// The tags an experiment records, in its order.
std::vector<std::string> recorded_tags(const experiment::Experiment& experiment);

}  // namespace varnok::experiment_live
