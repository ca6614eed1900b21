#pragma once

// An experiment file: how many periods to run, which tags to record, and
// the writes to make on the way (set, step, ramp, PRBS), each starting in a
// named period. The file is read and checked once, here; a run starts from
// the Experiment this gives.
//
//   description: MV1 step test          # optional
//   periods: 600
//   record: [MV1, CV1]
//   actions:                            # optional, in any order
//     - {at: 10, set: {MV1: 30}}
//     - {at: 100, step: {MV1: -5}}
//     - {at: 200, ramp: {tag: SP1, to: 35, periods: 20}}
//     - {at: 300, prbs: {tag: MV1, amplitude: 1, min_hold: 5, periods: 200, seed: 7}}
//
// seed is optional (1). What each action writes is in schedule.h.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "varnok/yamlfile/file_error.h"

namespace varnok::experiment {

// A bad experiment file: what() is the one line "FILE:LINE:COLUMN: what is wrong".
using ExperimentFileError = yamlfile::FileError;

// A tag as the file names it, and where.
struct TagRef {
  std::string name;
  yamlfile::Position where;
};

// Writes each value before the task of period `at`.
struct Set {
  std::vector<std::pair<TagRef, double>> values;
};

// Adds each delta to the value in force before the task of period `at`.
struct Step {
  std::vector<std::pair<TagRef, double>> deltas;
};

// From v0, the value in force before `at`, to `to` in a straight line over
// `periods` periods, reaching `to` in the last of them.
struct Ramp {
  TagRef tag;
  double to = 0.0;
  std::int64_t periods = 1;
};

// The seed of a PRBS whose file gives none.
inline constexpr std::uint64_t kDefaultPrbsSeed = 1;

// A pseudo-random binary sequence about v0, the value in force before `at`:
// v0 + amplitude or v0 - amplitude, each held a whole multiple of min_hold
// periods, for `periods` periods; v0 again after them.
struct Prbs {
  TagRef tag;
  double amplitude = 1.0;
  std::int64_t min_hold = 1;
  std::int64_t periods = 1;
  std::uint64_t seed = kDefaultPrbsSeed;
};

struct Action {
  std::int64_t at = 1;
  std::variant<Set, Step, Ramp, Prbs> what;
  yamlfile::Position where;

  // "set", "step", "ramp" or "prbs", as the file names it.
  std::string_view kind() const;
  // The tags it writes, in file order.
  std::vector<TagRef> tags() const;
  // The first and last period it writes in: a set or step only in `at`, a
  // ramp through at + periods - 1, a PRBS through at + periods (where it
  // writes v0 back).
  std::int64_t first_period() const { return at; }
  std::int64_t last_period() const;
};

struct Experiment {
  std::string file;  // as named when read, for messages
  std::string description;
  std::int64_t periods = 1;
  std::vector<TagRef> record;
  std::vector<Action> actions;  // by at, then in file order
};

// Reads and checks an experiment file. Throws ExperimentFileError for every
// fault of its content, and SetupError naming the file when it cannot be read.
Experiment read_experiment_file(const std::filesystem::path& path);

// The same for text already in memory; `file` names it in messages.
Experiment parse_experiment(const std::string& text, const std::string& file);

// Throws ExperimentFileError at the first tag of the file (recorded or
// written, in file order) that has_tag refuses: tag "XX" is not a tag of
// <plant_name>.
void check_tags(const Experiment& experiment, const std::function<bool(std::string_view)>& has_tag,
                std::string_view plant_name);

}  // namespace varnok::experiment
