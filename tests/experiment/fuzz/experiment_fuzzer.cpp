// Any bytes given as an experiment file: the reader either accepts them or
// throws ExperimentFileError with a position in the text; nothing else may
// escape. An accepted file's schedule writes each tag at most once a period,
// only within its actions' spans, and ends within the experiment.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "varnok/experiment/experiment_file.h"
#include "varnok/experiment/marks.h"
#include "varnok/experiment/schedule.h"

namespace {

using namespace varnok::experiment;

void check_error(const ExperimentFileError& e) {
  if (e.line() < 0 || e.column() < 0 || std::string(e.what()).find('\n') != std::string::npos)
    __builtin_trap();
}

void run_schedule(const Experiment& experiment) {
  // Long experiments are fine, but not for a fuzzer's time.
  constexpr std::int64_t kMostPeriods = 2000;
  std::map<std::string, double> values;
  Schedule schedule(experiment);
  for (std::int64_t period = 1; period <= std::min(experiment.periods, kMostPeriods); ++period) {
    std::set<std::string> needed;
    for (const auto& tag : schedule.tags_needed(period)) needed.insert(tag);
    const auto writes = schedule.writes_before(period, [&](std::string_view tag) {
      if (needed.count(std::string(tag)) == 0) __builtin_trap();
      return values[std::string(tag)];
    });
    std::set<std::string> written;
    for (const auto& write : writes) {
      if (!written.insert(write.tag).second || !std::isfinite(write.value)) __builtin_trap();
      bool in_span = false;
      for (const auto& action : experiment.actions) {
        if (action.first_period() > period || action.last_period() < period) continue;
        for (const auto& tag : action.tags()) in_span = in_span || tag.name == write.tag;
      }
      if (!in_span) __builtin_trap();
      values[write.tag] = write.value;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const auto experiment = parse_experiment(text, "fuzz.yaml");
    if (experiment.periods < 1 || experiment.record.empty()) __builtin_trap();
    for (const auto& action : experiment.actions) {
      if (action.at < 1 || action.last_period() > experiment.periods) __builtin_trap();
    }
    if (marks(experiment).size() != experiment.actions.size()) __builtin_trap();
    run_schedule(experiment);
    // A plant without tags starting with X.
    check_tags(
        experiment, [](std::string_view tag) { return tag.empty() || tag.front() != 'X'; }, "fuzz");
  } catch (const ExperimentFileError& e) {
    check_error(e);
  }
  return 0;
}
