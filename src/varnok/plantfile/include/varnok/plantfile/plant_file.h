#pragma once

// A plant described in a YAML file: inputs, outputs and the transfer-function
// paths between them. The file is read and checked once, here; everything
// that runs a file plant starts from the PlantFile this gives.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvex/plant_description.h"
#include "corvex/tag_info.h"
#include "varnok/errors.h"
#include "varnok/yamlfile/file_error.h"

namespace varnok::plantfile {

using Position = yamlfile::Position;

// A bad plant file: what() is the one line "FILE:LINE:COLUMN: what is wrong".
using PlantFileError = yamlfile::FileError;

enum class TimeUnit { kSecond, kMinute, kHour };

// Seconds in one unit.
double seconds_per(TimeUnit unit);

// Engineering data a client may show; the plant itself never reads it.
using TagInfo = corvex::TagInfo;

struct RandomWalk {
  double amplitude = 0.0;  // population standard deviation of the walk
};

struct Noise {
  double std = 0.0;  // at SET_CV_STD = 1
};

// One input -> output path, already in transfer-function form: num(s)/den(s)
// in descending powers of s, times 1/s when integrating, delayed by
// dead_time. Times are in the file's unit.
struct Path {
  std::string input;
  std::vector<double> num;
  std::vector<double> den;
  double dead_time = 0.0;
  bool integrating = false;
  Position where;
};

// What inputs and outputs share.
struct Signal {
  std::string tag;
  double initial = 0.0;
  TagInfo info;
  Position where;
};

struct Input : Signal {
  std::optional<RandomWalk> random_walk;
};

struct Output : Signal {
  std::optional<Noise> noise;
  std::vector<Path> paths;  // in file order
};

// A PID loop (corvex::PID) from an output to the input it drives; times in
// the file's unit. Its tunables are published as <name>_SP, _MODE, _KP, _TI,
// _TD, _OP_LO and _OP_HI.
struct Controller {
  std::string name;
  std::string measurement;  // an output
  std::string output;       // an input without a random walk
  double setpoint = 0.0;
  bool automatic = true;
  double kp = 1.0;
  double ti = 0.0;  // 0: no integral action
  double td = 0.0;
  double n = 10.0;  // derivative filter factor
  double low = 0.0;
  double high = 100.0;
  Position where;
};

// The published tag of a controller's tunable, e.g. ("LC1", "SP") -> "LC1_SP".
std::string controller_tag(std::string_view controller, std::string_view tunable);

// The tunables every controller publishes, in publishing order.
inline constexpr std::string_view kControllerTunables[] = {"SP", "MODE", "KP", "TI", "TD", "OP_LO", "OP_HI"};

// The group a plant file is served as when neither it nor the user names one.
inline constexpr const char* kDefaultGroup = "P1";

struct PlantFile {
  std::string file;  // as named when read, for messages
  std::string name;
  std::string description;
  std::optional<std::string> group;
  TimeUnit time_unit = TimeUnit::kSecond;
  // Plant time per period in time_unit. The model works in the file's unit
  // throughout (its times only matter relative to this one); only the
  // wall-clock length of a period is in seconds, see period_seconds().
  double sampling_time = 1.0;
  bool open_loop_copy = false;
  std::vector<Input> inputs;    // publishing order
  std::vector<Output> outputs;  // publishing order
  std::vector<Controller> controllers;

  double period_seconds() const { return sampling_time * seconds_per(time_unit); }
  bool has_noise() const;
  bool has_random_walks() const;
};

// True for a name that reads as a plant file (.yaml or .yml), whatever its case.
bool is_plant_file_name(std::string_view name);

// Reads and checks a plant file. Throws PlantFileError for every fault of
// its content, and SetupError naming the file when it cannot be read.
PlantFile read_plant_file(const std::filesystem::path& path);

// The same for text already in memory; `file` names it in messages.
PlantFile parse_plant_file(const std::string& text, const std::string& file);

// The paths of every output, for MIMOSim; times in the file's unit.
corvex::PlantDescription plant_description(const PlantFile& plant);

}  // namespace varnok::plantfile
