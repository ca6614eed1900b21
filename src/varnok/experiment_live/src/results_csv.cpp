#include "varnok/experiment_live/results_csv.h"

#include "varnok/csv_text.h"
#include "varnok/errors.h"

namespace varnok::experiment_live {

ResultsCsv::ResultsCsv(std::ostream& out, const std::vector<std::string>& tags) : out_(out) {
  out_ << "period";
  for (const auto& tag : tags) out_ << ',' << csv::field(tag);
  out_ << '\n' << std::flush;
  check();
}

void ResultsCsv::write(const Row& row) {
  out_ << row.period;
  for (const auto& value : row.values) out_ << ',' << corvex::to_text(value);
  out_ << '\n' << std::flush;
  check();
}

void ResultsCsv::check() {
  if (!out_) throw RunError("cannot write the results");
}

std::vector<std::string> recorded_tags(const experiment::Experiment& experiment) {
  std::vector<std::string> tags;
  for (const auto& tag : experiment.record) tags.push_back(tag.name);
  return tags;
}

}  // namespace varnok::experiment_live
