#include "varnok/plantfile/plant_file.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <set>
#include <utility>

#include "varnok/yamlfile/reader.h"

namespace varnok::plantfile {

namespace {

using yamlfile::in_quotes;

// The gateway's limits on a tag name, a unit and a description (a copy's
// description adds its prefix to the file's).
constexpr std::size_t kMaxTagLength = 128;
constexpr std::size_t kMaxUnitLength = 64;
constexpr std::size_t kMaxDescriptionLength = 500;
// MIMOSim refuses longer dead times; say so here, with the place.
constexpr double kMaxDeadTimePeriods = 1e6;

// Reads one file; every fault becomes a PlantFileError at the node it is about.
class Reader : public yamlfile::Reader {
 public:
  using yamlfile::Reader::Reader;

  PlantFile read(const std::string& text) {
    const YAML::Node root = load(text);
    if (!root.IsMap()) throw fail(root, "expected a mapping with name, inputs and outputs at the top");
    only_keys(root, {"name", "description", "group", "time_unit", "sampling_time", "open_loop_copy", "inputs",
                     "outputs", "controllers"});

    PlantFile plant;
    plant.file = file();
    plant.name = text_of(required(root, "name"), "name");
    if (plant.name.empty()) throw fail(root["name"], "name is empty");
    if (const auto node = root["description"]) plant.description = text_of(node, "description");
    if (const auto node = root["group"]) {
      plant.group = text_of(node, "group");
      check_name(node, *plant.group, "group");
    }
    if (const auto node = root["time_unit"]) plant.time_unit = time_unit(node);
    if (const auto node = root["sampling_time"]) {
      plant.sampling_time = number(node, "sampling_time");
      if (!(plant.sampling_time > 0)) throw fail(node, "sampling_time must be greater than 0");
    }
    if (const auto node = root["open_loop_copy"]) plant.open_loop_copy = flag(node, "open_loop_copy");

    read_inputs(required(root, "inputs"), plant);
    read_outputs(required(root, "outputs"), plant);
    if (const auto node = member(root, "controllers")) read_controllers(node, plant);
    check_generated_names(plant);
    return plant;
  }

 private:
  std::vector<double> coefficients(const YAML::Node& node, std::string_view what) {
    if (!node.IsSequence()) throw fail(node, std::string(what) + " must be a list of numbers, e.g. [2, 1]");
    if (node.size() == 0) throw fail(node, std::string(what) + " is empty");
    std::vector<double> out;
    for (const auto& item : node) out.push_back(number(item, what));
    return out;
  }

  TimeUnit time_unit(const YAML::Node& node) {
    const std::string text = text_of(node, "time_unit");
    if (text == "s") return TimeUnit::kSecond;
    if (text == "min") return TimeUnit::kMinute;
    if (text == "h") return TimeUnit::kHour;
    throw fail(node, "time_unit must be s, min or h, not " + in_quotes(text));
  }

  // A name that can be the last part of an OPC UA node id <group>.<tag>.
  void check_name(const YAML::Node& node, const std::string& name, std::string_view what) {
    if (name.empty()) throw fail(node, "empty " + std::string(what) + " name");
    if (name.size() > kMaxTagLength)
      throw fail(node,
                 std::string(what) + " name is longer than " + std::to_string(kMaxTagLength) + " characters");
    for (const unsigned char c : name) {
      if (c <= ' ' || c == 0x7f)
        throw fail(node,
                   std::string(what) + " name " + in_quotes(name) + " contains blanks or control characters");
    }
    if (name.find('.') != std::string::npos)
      throw fail(node, std::string(what) + " name " + in_quotes(name) + " contains \".\"");
  }

  void claim_tag(const YAML::Node& key, const std::string& tag) {
    check_name(key, tag, "tag");
    for (const char* own : {"RunCount", "SET_CV_STD", "SET_DV_RANDOM"}) {
      if (tag == own) throw fail(key, "tag " + in_quotes(tag) + " is one the plant publishes itself");
    }
    if (!tags_.insert(tag).second) throw fail(key, "duplicate tag " + in_quotes(tag));
  }

  // Bounded so that what the gateway carries to clients always fits.
  std::string bounded_text(const YAML::Node& node, std::string_view what, std::size_t most) {
    std::string text = text_of(node, what);
    if (text.size() > most)
      throw fail(node, std::string(what) + " is longer than " + std::to_string(most) + " characters");
    return text;
  }

  TagInfo tag_info(const YAML::Node& entry) {
    TagInfo info;
    if (const auto node = member(entry, "unit")) info.unit = bounded_text(node, "unit", kMaxUnitLength);
    if (const auto node = member(entry, "description"))
      info.description = bounded_text(node, "description", kMaxDescriptionLength);
    if (const auto node = member(entry, "low")) info.low = number(node, "low");
    if (const auto node = member(entry, "high")) info.high = number(node, "high");
    if (info.low && info.high && *info.low > *info.high) throw fail(entry["high"], "high is below low");
    return info;
  }

  // The part every input and output has: its tag, a mapping of `keys`,
  // initial value and tag info.
  void read_signal(Signal& signal, const YAML::Node& key, const YAML::Node& entry, std::string_view kind,
                   std::string_view example, std::initializer_list<std::string_view> keys) {
    signal.tag = key_text(key);
    signal.where = at(key.Mark());
    claim_tag(key, signal.tag);
    if (!entry.IsMap())
      throw fail(entry, std::string(kind) + " " + in_quotes(signal.tag) + " must be a mapping, e.g. " +
                            std::string(example));
    only_keys(entry, keys);
    signal.initial = number(required(entry, "initial"), "initial");
    signal.info = tag_info(entry);
  }

  void read_inputs(const YAML::Node& node, PlantFile& plant) {
    if (!node.IsMap() || node.size() == 0) throw fail(node, "inputs must map each input tag to its settings");
    for (const auto& item : node) {
      Input input;
      const YAML::Node& entry = item.second;
      read_signal(input, item.first, entry, "input", "{initial: 0}",
                  {"initial", "unit", "description", "low", "high", "random_walk"});
      if (const auto walk = member(entry, "random_walk")) {
        if (!walk.IsMap()) throw fail(walk, "random_walk must be a mapping, e.g. {amplitude: 0.1}");
        only_keys(walk, {"amplitude"});
        input.random_walk = RandomWalk{non_negative(required(walk, "amplitude"), "amplitude")};
      }
      plant.inputs.push_back(std::move(input));
    }
  }

  void read_outputs(const YAML::Node& node, PlantFile& plant) {
    if (!node.IsMap() || node.size() == 0)
      throw fail(node, "outputs must map each output tag to its settings");
    for (const auto& item : node) {
      Output output;
      const YAML::Node& entry = item.second;
      read_signal(output, item.first, entry, "output", "{initial: 0, paths: ...}",
                  {"initial", "unit", "description", "low", "high", "noise", "paths"});
      if (const auto noise = member(entry, "noise")) {
        if (!noise.IsMap()) throw fail(noise, "noise must be a mapping, e.g. {std: 0.1}");
        only_keys(noise, {"std"});
        output.noise = Noise{non_negative(required(noise, "std"), "std")};
      }
      if (const auto paths = member(entry, "paths")) {
        if (!paths.IsMap()) throw fail(paths, "paths must map input tags to transfer functions");
        std::set<std::string> seen;
        for (const auto& path : paths) {
          const std::string input = key_text(path.first);
          const bool known = std::any_of(plant.inputs.begin(), plant.inputs.end(),
                                         [&](const Input& in) { return in.tag == input; });
          if (!known) throw fail(path.first, in_quotes(input) + " is not an input");
          if (!seen.insert(input).second) throw fail(path.first, "a second path from " + in_quotes(input));
          output.paths.push_back(read_path(path.first, path.second, input, plant.sampling_time));
        }
      }
      plant.outputs.push_back(std::move(output));
    }
  }

  Path read_path(const YAML::Node& key, const YAML::Node& entry, const std::string& input,
                 double sampling_time) {
    Path path;
    path.input = input;
    path.where = at(key.Mark());
    if (!entry.IsMap())
      throw fail(entry, "path from " + in_quotes(input) +
                            " must be {gain, time_constant, dead_time} or {num, den, dead_time}");
    only_keys(entry, {"gain", "time_constant", "num", "den", "dead_time", "integrating"});
    const bool first_order = entry["gain"] || entry["time_constant"];
    const bool polynomial = entry["num"] || entry["den"];
    if (first_order && polynomial)
      throw fail(entry, "a path takes either gain and time_constant or num and den, not both");
    if (first_order) {
      // K/(T·s + 1); T = 0 is a pure gain, and a leading zero would be refused below.
      path.num = {number(required(entry, "gain"), "gain")};
      const double time_constant =
          entry["time_constant"] ? non_negative(member(entry, "time_constant"), "time_constant") : 0.0;
      path.den = time_constant > 0 ? std::vector{time_constant, 1.0} : std::vector{1.0};
    } else if (polynomial) {
      const YAML::Node num = required(entry, "num");
      path.num = coefficients(num, "num");
      const YAML::Node den = required(entry, "den");
      path.den = coefficients(den, "den");
      if (std::all_of(path.den.begin(), path.den.end(), [](double c) { return c == 0; }))
        throw fail(den, "den is all zeros");
      if (path.den.front() == 0) throw fail(den, "den starts with 0; give the highest power of s first");
      const auto first = std::find_if(path.num.begin(), path.num.end(), [](double c) { return c != 0; });
      if (first == path.num.end()) throw fail(num, "num is all zeros; leave the path out instead");
      const auto num_degree = static_cast<std::size_t>(path.num.end() - first) - 1;
      if (num_degree > path.den.size() - 1) {
        throw fail(num, "improper transfer function: num has degree " + std::to_string(num_degree) +
                            ", den only " + std::to_string(path.den.size() - 1));
      }
    } else {
      throw fail(entry, "path from " + in_quotes(input) + " needs gain (and time_constant) or num and den");
    }
    if (const auto node = member(entry, "dead_time")) {
      path.dead_time = non_negative(node, "dead_time");
      if (path.dead_time / sampling_time > kMaxDeadTimePeriods)
        throw fail(node, "dead_time is more than 1e6 sampling times");
    }
    if (const auto node = member(entry, "integrating")) path.integrating = flag(node, "integrating");
    return path;
  }

  void read_controllers(const YAML::Node& node, PlantFile& plant) {
    if (!node.IsMap()) throw fail(node, "controllers must map each loop's name to its settings");
    std::set<std::string> driven;
    for (const auto& item : node) {
      Controller loop;
      loop.name = key_text(item.first);
      loop.where = at(item.first.Mark());
      check_name(item.first, loop.name, "controller");
      for (const auto tunable : kControllerTunables)
        claim_tag(item.first, controller_tag(loop.name, tunable));
      const YAML::Node& entry = item.second;
      if (!entry.IsMap())
        throw fail(entry, "controller " + in_quotes(loop.name) +
                              " must be a mapping, e.g. {measurement: CV1, output: MV1, kp: 1}");
      only_keys(entry, {"measurement", "output", "setpoint", "mode", "kp", "ti", "td", "n", "low", "high"});

      const YAML::Node measurement = required(entry, "measurement");
      loop.measurement = text_of(measurement, "measurement");
      const auto cv = std::find_if(plant.outputs.begin(), plant.outputs.end(),
                                   [&](const Output& o) { return o.tag == loop.measurement; });
      if (cv == plant.outputs.end())
        throw fail(measurement, in_quotes(loop.measurement) + " is not an output");

      const YAML::Node output = required(entry, "output");
      loop.output = text_of(output, "output");
      const auto mv = std::find_if(plant.inputs.begin(), plant.inputs.end(),
                                   [&](const Input& i) { return i.tag == loop.output; });
      if (mv == plant.inputs.end()) throw fail(output, in_quotes(loop.output) + " is not an input");
      if (mv->random_walk)
        throw fail(output, in_quotes(loop.output) + " has a random walk; a controller cannot drive it");
      if (!driven.insert(loop.output).second)
        throw fail(output, in_quotes(loop.output) + " is driven by another controller already");

      loop.setpoint = cv->initial;
      if (const auto sp = member(entry, "setpoint")) loop.setpoint = number(sp, "setpoint");
      if (const auto mode = member(entry, "mode")) {
        const std::string text = text_of(mode, "mode");
        if (text != "auto" && text != "manual")
          throw fail(mode, "mode must be auto or manual, not " + in_quotes(text));
        loop.automatic = text == "auto";
      }
      loop.kp = number(required(entry, "kp"), "kp");
      if (const auto ti = member(entry, "ti")) loop.ti = non_negative(ti, "ti");
      if (const auto td = member(entry, "td")) loop.td = non_negative(td, "td");
      if (const auto n = member(entry, "n")) loop.n = non_negative(n, "n");
      loop.low = mv->info.low.value_or(loop.low);
      loop.high = mv->info.high.value_or(loop.high);
      if (const auto low = member(entry, "low")) loop.low = number(low, "low");
      if (const auto high = member(entry, "high")) loop.high = number(high, "high");
      if (loop.low > loop.high)
        throw fail(entry["high"] ? entry["high"] : item.first, "the output limits have high below low");
      plant.controllers.push_back(std::move(loop));
    }
  }

  // The open-loop copies' names must not meet a tag of the file.
  void check_generated_names(const PlantFile& plant) {
    if (!plant.open_loop_copy) return;
    const auto clash = [&](const std::string& tag, Position where) {
      if (tags_.count("OPEN_" + tag) != 0)
        throw fail_at(where, "duplicate tag \"OPEN_" + tag + "\": open_loop_copy gives " + in_quotes(tag) +
                                 " a copy of that name");
    };
    for (const auto& input : plant.inputs) {
      if (!input.random_walk) clash(input.tag, input.where);
    }
    for (const auto& output : plant.outputs) clash(output.tag, output.where);
  }

  std::set<std::string> tags_;
};

}  // namespace

double seconds_per(TimeUnit unit) {
  switch (unit) {
    case TimeUnit::kMinute:
      return 60.0;
    case TimeUnit::kHour:
      return 3600.0;
    case TimeUnit::kSecond:
      break;
  }
  return 1.0;
}

bool PlantFile::has_noise() const {
  return std::any_of(outputs.begin(), outputs.end(), [](const Output& o) { return o.noise.has_value(); });
}

bool PlantFile::has_random_walks() const {
  return std::any_of(inputs.begin(), inputs.end(), [](const Input& i) { return i.random_walk.has_value(); });
}

std::string controller_tag(std::string_view controller, std::string_view tunable) {
  return std::string(controller) + "_" + std::string(tunable);
}

bool is_plant_file_name(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto ends_with = [&](std::string_view tail) {
    return lower.size() > tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
  };
  return ends_with(".yaml") || ends_with(".yml");
}

PlantFile read_plant_file(const std::filesystem::path& path) {
  return parse_plant_file(yamlfile::read_text_file(path, "plant file"), path.string());
}

PlantFile parse_plant_file(const std::string& text, const std::string& file) {
  return Reader(file).read(text);
}

corvex::PlantDescription plant_description(const PlantFile& plant) {
  corvex::PlantDescription description;
  for (const auto& output : plant.outputs) {
    corvex::InputPaths paths;
    for (const auto& path : output.paths) {
      paths.set(path.input, corvex::TransferPath{.num_s = path.num,
                                                 .den_s = path.den,
                                                 .iodelay_s = path.dead_time,
                                                 .integral = path.integrating});
    }
    description.set(output.tag, std::move(paths));
  }
  return description;
}

}  // namespace varnok::plantfile
