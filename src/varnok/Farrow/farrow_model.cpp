#include "farrow_model.h"

#include <span>
#include <string>

#include "corvex/c2d.h"
#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::farrow {

using corvex::ValueMap;

namespace {

// Within each CV the MV path comes first, then DV1.
corvex::PlantDescription plant_for(const std::string& letter) {
  return {{"CV1_" + letter,
           {
               {"MV1_" + letter, {.num_s = {1.5}, .den_s = {30.0, 1.0}, .iodelay_s = 15}},
               {"DV1", {.num_s = {2.0}, .den_s = {25.0, 1.0}, .iodelay_s = 10}},
           }}};
}

struct Sequences {
  std::vector<double> v1;
  std::vector<double> dv1_part1;
  std::vector<double> dv0;
  std::vector<double> G0num;
  std::vector<double> G0den;
  std::vector<double> dv1_sim;
  std::vector<double> dv1;
};

// Three blocks from one generator: v1, dv1_part1, dv0.
Sequences build_sequences() {
  const std::vector<double> den{1.0, -1.9, 0.9025};  // [1, −0.95]·[1, −0.95]
  frame::NormalGenerator gen(28897);
  Sequences out;

  // Drawn even though it is scaled to nothing, so the later blocks stay the
  // second and third of the generator.
  out.v1 = frame::coloured_noise(gen, N, std::vector{1.0}, den);
  const double v1_std = frame::population_std(out.v1);
  // Adding 0.0 turns the −0.0 of negative samples into +0.0.
  for (double& x : out.v1) x = 0.0 * x / v1_std + 0.0;

  out.dv1_part1 = frame::coloured_noise(gen, N, std::vector{1.0, 0.7}, den);
  for (double& x : out.dv1_part1) x = 0.02 * x + 20.0;

  out.dv0 = frame::coloured_noise(gen, N, std::vector{1.0}, std::vector{1.0, -0.98});
  for (double& x : out.dv0) x *= 0.4;

  const corvex::DiscreteTransferFunction g0 = corvex::c2d({2.0}, {30.0, 1}, 15, 1.0, "zoh");
  out.G0num = g0.num;
  out.G0den = g0.den;

  out.dv1_sim = frame::lfilter(out.G0num, out.G0den, out.dv0);
  for (double& x : out.dv1_sim) x += 30.0;

  out.dv1.resize(N);
  for (std::size_t i = 0; i < N; ++i) out.dv1[i] = out.dv1_part1[i] + out.dv1_sim[i];
  return out;
}

const Sequences& sequences() {
  static const Sequences built = build_sequences();
  return built;
}

}  // namespace

const corvex::PlantDescription plant_model_A = plant_for("A");
const corvex::PlantDescription plant_model_B = plant_for("B");
const corvex::PlantDescription plant_model_C = plant_for("C");

const std::vector<double>& v1() {
  return sequences().v1;
}
const std::vector<double>& dv1_part1() {
  return sequences().dv1_part1;
}
const std::vector<double>& dv0() {
  return sequences().dv0;
}
const std::vector<double>& G0num() {
  return sequences().G0num;
}
const std::vector<double>& G0den() {
  return sequences().G0den;
}
const std::vector<double>& dv1_sim() {
  return sequences().dv1_sim;
}
const std::vector<double>& dv1() {
  return sequences().dv1;
}

const ValueMap& sim_ini_dict() {
  static const ValueMap ini = frame::merge_all({
      {{"MV1_A", 15.0},
       {"CV1_A", 31.0},
       {"MV1_B", 15.0},
       {"CV1_B", 31.0},
       {"MV1_C", 15.0},
       {"CV1_C", 31.0},
       {"DV1", dv1().front()},
       {"DV0", dv0().front()},
       {"_DV1Sim", dv1_sim().front()},
       {"v1", v1().front()},
       {"SP1", 31.0}},
      frame::bookkeeping_tags(),
  });
  return ini;
}

// The DVs are not settings: the plant writes them before every use.
const frame::SettingRules& setting_rules() {
  static const frame::SettingRules rules = frame::join({
      frame::values({"MV1_A", "MV1_B", "MV1_C"}),
      frame::unread({"SP1"}),
      frame::spares(),
  });
  return rules;
}

DV_Prd::DV_Prd()
    : PlantSimulation(sim_ini_dict(), setting_rules()),
      plantA(plant_model_A, sim_ini_dict(), 1.0),
      plantB(plant_model_B, sim_ini_dict(), 1.0),
      plantC(plant_model_C, sim_ini_dict(), 1.0) {
  const ValueMap& data = get_data();
  places_ = {.plantA = plantA.places_in(data),
             .plantB = plantB.places_in(data),
             .plantC = plantC.places_in(data),
             .dv0 = data.index_of("DV0"),
             .dv1_sim = data.index_of("_DV1Sim"),
             .dv1 = data.index_of("DV1"),
             .v1 = data.index_of("v1"),
             .run_count = data.index_of("RunCount")};
}

void DV_Prd::step() {
  ValueMap& data = get_data();
  const std::size_t k = frame::wrap_index(get_task_count(), N);

  at(places_.dv0) = dv0()[k];
  at(places_.dv1_sim) = dv1_sim()[k];
  at(places_.dv1) = dv1()[k];
  at(places_.v1) = v1()[k];

  // Each copy's one CV gets the same noise.
  const std::span<const double> noise(&v1()[k], 1);
  plantA.run_at(data, places_.plantA, noise);
  plantB.run_at(data, places_.plantB, noise);
  plantC.run_at(data, places_.plantC, noise);

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::farrow
