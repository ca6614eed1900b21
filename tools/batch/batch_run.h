#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "varnok/experiment/marks.h"

namespace varnok::batch {

// One value written into the live mapping before the task of a period, as an
// operator would write it through the gateway.
struct ScheduledWrite {
  std::string tag;
  double value = 0.0;
  std::int64_t period = 1;
};

struct BatchOptions {
  std::string module;  // or a plant file, see is_plant_file_name
  std::string object;  // empty for a plant file
  std::int64_t steps = 100;
  std::vector<ScheduledWrite> writes;
  std::vector<std::string> tags;  // empty: every tag, in tag-set order
  std::vector<std::filesystem::path> search_dirs;
  // An experiment file: it gives the periods, the writes and the tags to
  // record, and steps, writes and tags are not used (the command line
  // refuses them together).
  std::filesystem::path experiment;
};

// What a run recorded, as printed: values[i][k] is tags[i] after period k + 1.
struct Results {
  std::vector<std::string> tags;
  std::vector<std::vector<double>> values;
  std::vector<experiment::Mark> marks;  // the experiment's actions; none without one
  std::string description;              // the experiment's; empty without one
};

// Parses "TAG=VALUE@K" (VALUE decimal, K a whole number >= 1). Throws
// UsageError with a message naming the text and what was expected.
ScheduledWrite parse_scheduled_write(const std::string& text);

// Loads the object, or reads the plant file, and runs periods 1..steps (or
// the experiment's), writing one CSV row per period to out. The plant's own
// lines (a refused setting) go to standard error from then on. Throws
// SetupError for an unknown module, object or tag, a PlantFileError or
// ExperimentFileError for a bad file, and whatever task() throws.
void run_batch(const BatchOptions& options, std::ostream& out);

// The same, keeping what it printed for the caller.
Results run_batch_with_results(const BatchOptions& options, std::ostream& out);

}  // namespace varnok::batch
