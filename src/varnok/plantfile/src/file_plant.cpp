#include "varnok/plantfile/file_plant.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "varnok/frame/noise.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::plantfile {

using corvex::ValueMap;

namespace {

// One seed for every file: the same file gives the same sequences on every start.
constexpr std::uint64_t kSeed = 1;

bool copied(const Input& input) {
  return !input.random_walk.has_value();
}

std::string open_tag(std::string_view tag) {
  return kOpenPrefix + std::string(tag);
}

corvex::PlantDescription open_copy(const PlantFile& plant) {
  corvex::PlantDescription original = plant_description(plant);
  corvex::PlantDescription copy;
  for (const auto& [cv, paths] : original) {
    corvex::InputPaths renamed;
    for (const auto& [input, path] : paths) {
      const bool has_copy = std::any_of(plant.inputs.begin(), plant.inputs.end(),
                                        [&](const Input& in) { return in.tag == input && copied(in); });
      renamed.set(has_copy ? open_tag(input) : input, path);
    }
    copy.set(open_tag(cv), std::move(renamed));
  }
  return copy;
}

// Indices into kControllerTunables.
enum Tunable : std::size_t { kSetpoint, kMode, kGain, kIntegralTime, kDerivativeTime, kLowLimit, kHighLimit };

// The controllers' tunables in kControllerTunables order, with their values at start.
std::vector<std::pair<std::string, double>> controller_tags(const Controller& loop) {
  const double values[] = {loop.setpoint, loop.automatic ? 1.0 : 0.0, loop.kp, loop.ti, loop.td, loop.low,
                           loop.high};
  std::vector<std::pair<std::string, double>> tags;
  std::size_t i = 0;
  for (const auto tunable : kControllerTunables)
    tags.emplace_back(controller_tag(loop.name, tunable), values[i++]);
  return tags;
}

const TagInfo* info_of(const PlantFile& plant, std::string_view tag) {
  for (const auto& input : plant.inputs) {
    if (input.tag == tag) return &input.info;
  }
  for (const auto& output : plant.outputs) {
    if (output.tag == tag) return &output.info;
  }
  return nullptr;
}

corvex::TagInfoList describe(const PlantFile& plant) {
  corvex::TagInfoList list;
  const auto add = [&](std::string tag, TagInfo info) {
    if (!info.empty()) list.emplace_back(std::move(tag), std::move(info));
  };
  for (const auto& input : plant.inputs) add(input.tag, input.info);
  for (const auto& output : plant.outputs) add(output.tag, output.info);
  for (const auto& loop : plant.controllers) {
    const std::string& cv_unit = info_of(plant, loop.measurement)->unit;
    const std::string& mv_unit = info_of(plant, loop.output)->unit;
    const std::string about = loop.name + " (" + loop.measurement + " -> " + loop.output + ")";
    const std::string words[] = {
        "Setpoint of " + about,          "Mode of " + about + ": 1 automatic, 0 manual",
        "Proportional gain of " + about, "Integral time of " + about + ", 0 = off",
        "Derivative time of " + about,   "Low output limit of " + about,
        "High output limit of " + about};
    const std::string units[] = {cv_unit, "", "", "", "", mv_unit, mv_unit};
    std::size_t i = 0;
    for (const auto& [tag, value] : controller_tags(loop)) {
      add(tag, {.description = words[i], .unit = units[i], .low = {}, .high = {}});
      ++i;
    }
  }
  if (plant.open_loop_copy) {
    const auto copy = [&](const std::string& tag, TagInfo info) {
      info.description =
          "Open-loop copy of " + tag + (info.description.empty() ? "" : ": " + info.description);
      add(open_tag(tag), std::move(info));
    };
    for (const auto& input : plant.inputs) {
      if (copied(input)) copy(input.tag, input.info);
    }
    for (const auto& output : plant.outputs) copy(output.tag, output.info);
  }
  add("RunCount", {.description = "Periods run", .unit = {}, .low = {}, .high = {}});
  if (plant.has_noise() || plant.has_random_walks()) {
    add(kNoiseSwitch, {.description = "Scale of every output's noise: 1 as in the file, 0 off",
                       .unit = {},
                       .low = {},
                       .high = {}});
    add(kRandomWalkSwitch,
        {.description = "Random input walks: on above 0.5", .unit = {}, .low = {}, .high = {}});
  }
  return list;
}

}  // namespace

ValueMap FilePlant::initial_tags(const PlantFile& plant) {
  ValueMap data;
  for (const auto& input : plant.inputs) data.set(input.tag, input.initial);
  for (const auto& output : plant.outputs) data.set(output.tag, output.initial);
  for (const auto& loop : plant.controllers) {
    for (const auto& [tag, value] : controller_tags(loop)) data.set(tag, value);
  }
  if (plant.open_loop_copy) {
    for (const auto& input : plant.inputs) {
      if (copied(input)) data.set(open_tag(input.tag), input.initial);
    }
    for (const auto& output : plant.outputs) data.set(open_tag(output.tag), output.initial);
  }
  data.set("RunCount", 0);
  if (plant.has_noise() || plant.has_random_walks()) {
    data.set(kNoiseSwitch, 1);
    data.set(kRandomWalkSwitch, 1);
  }
  return data;
}

frame::SettingRules FilePlant::setting_rules(const PlantFile& plant) {
  frame::SettingRules rules;
  for (const auto& input : plant.inputs) rules.push_back({input.tag, frame::SettingKind::kValue, {}});
  for (const auto& loop : plant.controllers) {
    const auto tag = [&](std::string_view tunable) { return controller_tag(loop.name, tunable); };
    // The measurement is read too, but it is an output the plant overwrites.
    rules =
        frame::join({rules, frame::values({tag("SP"), tag("KP"), tag("TD")}), frame::switches({tag("MODE")}),
                     frame::divisors({tag("TI")}), frame::limits(tag("OP_LO"), tag("OP_HI"))});
  }
  if (plant.open_loop_copy) {
    for (const auto& input : plant.inputs) {
      if (copied(input)) rules.push_back({open_tag(input.tag), frame::SettingKind::kValue, {}});
    }
  }
  if (plant.has_noise() || plant.has_random_walks()) {
    rules.push_back({kNoiseSwitch, frame::SettingKind::kValue, {}});  // the noise level; <= 0 is off
    rules.push_back({kRandomWalkSwitch, frame::SettingKind::kFinite, {}});
  }
  return rules;
}

FilePlant::FilePlant(const PlantFile& plant)
    : PlantSimulation(initial_tags(plant), setting_rules(plant), {.sampling_time = plant.period_seconds()}),
      switches_(plant.has_noise() || plant.has_random_walks()),
      plant_(plant_description(plant), get_data(), plant.sampling_time) {
  const ValueMap& data = get_data();
  if (plant.open_loop_copy) open_.emplace_back(open_copy(plant), data, plant.sampling_time);
  plant_places_ = plant_.places_in(data);
  for (const auto& copy : open_) open_places_.push_back(copy.places_in(data));
  for (const auto& loop : plant.controllers) {
    std::vector<std::size_t> tags;
    for (const auto& [tag, value] : controller_tags(loop)) tags.push_back(data.index_of(tag));
    loops_.push_back({corvex::PID(plant.sampling_time), loop.n, std::move(tags),
                      data.index_of(loop.measurement), data.index_of(loop.output)});
  }
  info_ = describe(plant);
  if (switches_) {
    noise_switch_ = data.index_of(kNoiseSwitch);
    walk_switch_ = data.index_of(kRandomWalkSwitch);
  }
  run_count_ = data.index_of("RunCount");
  noise_.assign(plant.outputs.size(), 0.0);

  // One generator, blocks in file order: the noisy outputs, then the walks.
  frame::NormalGenerator gen(kSeed);
  constexpr std::array noise_num{1.0, -0.5, 0.3};
  constexpr std::array noise_den{1.0, -1.94, 0.9405};
  for (std::size_t i = 0; i < plant.outputs.size(); ++i) {
    const Output& output = plant.outputs[i];
    if (!output.noise) continue;
    Noisy noisy{i, frame::coloured_noise(gen, kSequenceLength, noise_num, noise_den)};
    frame::standardise(noisy.sequence);
    for (double& x : noisy.sequence) x *= output.noise->std;
    noisy_.push_back(std::move(noisy));
  }
  constexpr std::array walk_num{1.0, 0.7, -0.1};
  constexpr std::array slow_den{1.0, -1.9, 0.9025};
  constexpr std::array fast_den{1.0, -0.34, 0.0285};
  constexpr double fast_weight = 10.0;
  for (const auto& input : plant.inputs) {
    if (!input.random_walk) continue;
    Walk walk{data.index_of(input.tag),
              frame::random_walk(gen, kSequenceLength, walk_num, slow_den, fast_den, fast_weight)};
    frame::remove_mean(walk.sequence);
    frame::scale_about(walk.sequence, input.random_walk->amplitude, input.initial);
    walks_.push_back(std::move(walk));
  }
}

void FilePlant::step() {
  ValueMap& data = get_data();
  const std::size_t k = frame::wrap_index(get_task_count(), kSequenceLength);
  if (switches_) {
    const double level = frame::noise_level(at(noise_switch_)).to_double();
    for (const auto& noisy : noisy_) noise_[noisy.output] = level * noisy.sequence[k];
    if (frame::random_dv_on(at(walk_switch_))) {
      for (const auto& walk : walks_) at(walk.place) = walk.sequence[k];
    }
  }
  // Each loop moves its input from the previous period's measurement, as
  // a real controller would before the plant responds.
  for (auto& loop : loops_) {
    const auto value = [&](Tunable which) { return at(loop.tags[which]).to_double(); };
    loop.pid.setPIDParam(value(kGain), value(kIntegralTime), value(kDerivativeTime), loop.n);
    loop.pid.setOPHighLowLimit(value(kHighLimit), value(kLowLimit));
    const int mode = value(kMode) > 0.5 ? 1 : 0;
    const double output =
        loop.pid.run(mode, value(kSetpoint), at(loop.measurement).to_double(), at(loop.output).to_double());
    at(loop.output) = output;
  }
  plant_.run_at(data, plant_places_, noise_);
  for (std::size_t i = 0; i < open_.size(); ++i) open_[i].run_at(data, open_places_[i], noise_);
  at(run_count_) = get_task_count();
}

std::shared_ptr<FilePlant> build_file_plant(const PlantFile& plant) {
  try {
    return std::make_shared<FilePlant>(plant);
  } catch (const std::invalid_argument& e) {
    throw SetupError(plant.file + ": " + e.what());
  }
}

}  // namespace varnok::plantfile
