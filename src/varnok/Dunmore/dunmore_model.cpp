#include "dunmore_model.h"

#include <optional>
#include <span>
#include <string>

#include "varnok/frame/errors.h"
#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::dunmore {

using corvex::ValueMap;

const corvex::TransferPath cv1_mv1_w1{.num_s = {0.254, 1.8198}, .den_s = {1, 0.3567, 0.2426}, .iodelay_s = 4};
const corvex::TransferPath cv1_dv1_w1{.num_s = {3.5}, .den_s = {15, 1}, .iodelay_s = 8};
const corvex::TransferPath cv1_mv1_w2{.num_s = {1}, .den_s = {50, 1}, .iodelay_s = 24};
const corvex::TransferPath cv1_dv1_w2{.num_s = {2.2}, .den_s = {40, 1}, .iodelay_s = 20};

namespace {

// stem + letter, e.g. ("CV1_", "A") → "CV1_A".
std::string lettered(std::string_view stem, std::string_view letter) {
  std::string out(stem);
  out += letter;
  return out;
}

corvex::OrderedMap<corvex::PlantDescription> build_yu_model() {
  struct Local {
    const char* key_stem;  // "W1_" → keys "W1_A" .. "W1_D"
    const corvex::TransferPath& mv;
    const corvex::TransferPath& dv;
  };
  const Local locals[] = {{"W1_", cv1_mv1_w1, cv1_dv1_w1}, {"W2_", cv1_mv1_w2, cv1_dv1_w2}};
  corvex::OrderedMap<corvex::PlantDescription> out;
  for (const Local& local : locals) {
    for (std::string_view letter : letters) {
      out.set(lettered(local.key_stem, letter),
              {{lettered("CV1_", letter), {{lettered("MV1_", letter), local.mv}, {"DV1", local.dv}}}});
    }
  }
  return out;
}

struct RandomSequences {
  std::vector<double> v1;
  std::vector<double> dv1;
};

// Both blocks from one generator, v1 first.
RandomSequences build_random_sequences() {
  const std::vector<double> den{1.0, -1.9, 0.9025};  // [1, −0.95]·[1, −0.95]
  frame::NormalGenerator gen(285891);
  RandomSequences out;
  out.v1 = frame::coloured_noise(gen, N, std::vector{1.0}, den);
  frame::scale_about(out.v1, 1.0, 0.0);
  out.dv1 = frame::coloured_noise(gen, N, std::vector{1.0, 0.7}, den);
  for (double& x : out.dv1) x = 0.02 * x + 20.0;
  return out;
}

const RandomSequences& random_sequences() {
  static const RandomSequences sequences = build_random_sequences();
  return sequences;
}

// count values evenly spaced from `from` to `to`, both ends exact.
void append_ramp(std::vector<double>& out, double from, double to, std::size_t count) {
  const double step = (to - from) / static_cast<double>(count - 1);
  for (std::size_t i = 0; i + 1 < count; ++i) out.push_back(from + static_cast<double>(i) * step);
  out.push_back(to);
}

std::vector<double> build_profile() {
  std::vector<double> out;
  out.reserve(profile_length);
  out.insert(out.end(), 500, 80.0);
  append_ramp(out, 80.0, 120.0, 300);
  out.insert(out.end(), 500, 120.0);
  append_ramp(out, 120.0, 80.0, 300);
  return out;
}

double weight_of(const corvex::LPVPlantSim& plant, int plant_id) {
  const std::optional<double> weight = plant.current_weight(plant_id);
  if (!weight)
    throw RunError("Dunmore: the LPV plant reported no weight for local model " + std::to_string(plant_id));
  return *weight;
}

}  // namespace

const corvex::OrderedMap<corvex::PlantDescription> yu_model = build_yu_model();

const std::vector<double>& v1() {
  return random_sequences().v1;
}
const std::vector<double>& dv1() {
  return random_sequences().dv1;
}

const std::vector<double>& MW() {
  static const std::vector<double> profile = build_profile();
  return profile;
}

const ValueMap& sim_ini_dict() {
  static const ValueMap ini = frame::merge_all({
      {{"MV1_A", 15.0},
       {"CV1_A", 31.0},
       {"MV1_B", 15.0},
       {"CV1_B", 31.0},
       {"MV1_C", 15.0},
       {"CV1_C", 31.0},
       {"MV1_D", 15.0},
       {"CV1_D", 31.0},
       {"SV1", MW().front()},
       {"DV1", dv1().front()},
       {"v1", v1().front()},
       {"SP1", 31.0},
       {"_P1", 1.0},
       {"_P2", 0.0},
       {"SET_CV_STD", 1.0},
       {"SET_DV_RANDOM", 1.0}},
      frame::bookkeeping_tags(),
  });
  return ini;
}

// SV1 is not a setting: the profile overwrites it before every use.
const frame::SettingRules& setting_rules() {
  static const frame::SettingRules rules = [] {
    frame::SettingRules inputs;
    for (const auto& [local, plant] : yu_model) inputs = frame::join({inputs, frame::inputs_of({plant})});
    return frame::join({inputs, frame::values({"SET_CV_STD"}),  // the noise level; <= 0 is off
                        frame::switches({"SET_DV_RANDOM"}), frame::unread({"SP1"}), frame::spares()});
  }();
  return rules;
}

namespace {

corvex::LPVPlantSim make_plant(std::string_view letter) {
  corvex::LPVPlantSim plant(sim_ini_dict());
  plant.addPlant(1, LPVSISO::W1, yu_model.at(lettered("W1_", letter)), 1.0);
  plant.addPlant(2, LPVSISO::W2, yu_model.at(lettered("W2_", letter)), 1.0);
  return plant;
}

}  // namespace

LPVSISO::LPVSISO()
    : PlantSimulation(sim_ini_dict(), setting_rules()),
      plant_A(make_plant(plant_letters[0])),
      plant_B(make_plant(plant_letters[1])),
      plant_C(make_plant(plant_letters[2])),
      plant_D(make_plant(plant_letters[3])),
      plants_{&plant_A, &plant_B, &plant_C, &plant_D} {
  const ValueMap& data = get_data();
  for (std::size_t i = 0; i < plants_.size(); ++i) places_.plants[i] = plants_[i]->places_in(data);
  places_.noise_switch = data.index_of("SET_CV_STD");
  places_.random_dv_switch = data.index_of("SET_DV_RANDOM");
  places_.dv1 = data.index_of("DV1");
  places_.v1 = data.index_of("v1");
  places_.sv1 = data.index_of("SV1");
  places_.p1 = data.index_of("_P1");
  places_.p2 = data.index_of("_P2");
  places_.run_count = data.index_of("RunCount");
}

void LPVSISO::step() {
  ValueMap& data = get_data();
  // Period 1 reads the first element of every sequence.
  const std::int64_t count = get_task_count() - 1;
  const std::size_t k = frame::wrap_index(count, N);

  if (frame::random_dv_on(at(places_.random_dv_switch))) at(places_.dv1) = dv1()[k];

  const double level = frame::noise_level(at(places_.noise_switch)).to_double();
  // Off publishes +0.0, not the signed zero that 0 × a negative sample gives.
  at(places_.v1) = level > 0.0 ? level * v1()[k] : 0.0;
  at(places_.sv1) = MW()[frame::wrap_index(count, profile_length)];

  const double working_value = at(places_.sv1).to_double();
  const double noise = at(places_.v1).to_double();
  for (std::size_t i = 0; i < plants_.size(); ++i)
    plants_[i]->run_at(working_value, data, places_.plants[i], std::span<const double>(&noise, 1));

  at(places_.p1) = weight_of(plant_A, 1);
  at(places_.p2) = weight_of(plant_A, 2);

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::dunmore
