#include "calder_model.h"

#include <stdexcept>
#include <string>

#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::calder {

using corvex::Value;
using corvex::ValueMap;

namespace {

// K·e^(−D·s)/(T·s + 1)
corvex::TransferPath lag(double gain, double time_constant, double delay) {
  return {.num_s = {0, gain}, .den_s = {time_constant, 1}, .iodelay_s = delay};
}

}  // namespace

const corvex::PlantDescription plant_model = {
    {"CV1", {{"MV1", lag(4.05, 20, 5)}, {"MV2", lag(1.77, 60, 8)}, {"DV1", lag(3.3, 20, 4)}}},
    {"CV2", {{"MV1", lag(-1.39, 50, 7)}, {"MV2", lag(5.72, 15, 7)}, {"DV1", lag(1.2, 25, 4)}}},
    {"CV3", {{"MV1", lag(1.2, 40, 5)}, {"MV2", lag(1.5, 35, 6)}, {"DV1", lag(2.0, 25, 5)}}},
};
const corvex::PlantDescription plant_model_OPEN = frame::derive_copy(plant_model, "OPEN_");

const ValueMap process_ini_dict = {{"MV1", 35}, {"MV2", 40}, {"DV1", 33},         {"CV1", 41},
                                   {"CV2", 42}, {"CV3", 43}, {"SET_CV_STD", 0.0}, {"SET_DV_RANDOM", 0.0}};
const ValueMap OPEN_ini_dict = frame::derive_copy_ini(process_ini_dict, "OPEN_");

const ValueMap sim_ini_dict = frame::merge_all({
    process_ini_dict,
    OPEN_ini_dict,
    {{"CV1std_10min", 0.0}, {"CV2std_10min", 0.0}, {"CV3std_10min", 0.0}},
    {{"OPEN_CV1std_10min", 0.0}, {"OPEN_CV2std_10min", 0.0}, {"OPEN_CV3std_10min", 0.0}},
    {{"SP1", 41}, {"SP2", 42}, {"SP3", 43}},
    frame::bookkeeping_tags(),
});

const frame::SettingRules setting_rules = frame::join({
    frame::inputs_of({plant_model, plant_model_OPEN}),
    frame::unread({"SP1", "SP2", "SP3"}),
    frame::values({"SET_CV_STD"}),  // the noise level; <= 0 is off
    frame::switches({"SET_DV_RANDOM"}),
    frame::spares(),
});

Sim::Sim() : Sim(corvex::Simulink::Options{}) {}

Sim::Sim(corvex::Simulink::Options framework)
    : PlantSimulation(sim_ini_dict, setting_rules, framework),
      plant(plant_model, sim_ini_dict, 1),
      plant_open(plant_model_OPEN, sim_ini_dict, 1) {
  frame::NormalGenerator gen(1);
  const std::vector noise_num{1.0, -0.5, 0.3};
  const std::vector noise_den{1.0, -1.94, 0.9405};
  for (std::size_t i = 1; i <= kCVs; ++i)
    v_.set("CV" + std::to_string(i), frame::coloured_noise(gen, N, noise_num, noise_den));
  for (auto& [cv, noise] : v_) frame::standardise(noise);

  const std::vector walk_num{1.0, -0.5, 0.7};
  dv1_ = frame::random_walk(gen, N, walk_num, std::vector{1.0, -1.94, 0.9409},
                            std::vector{1.0, -0.34, 0.0285}, 10.0);
  frame::scale_about(dv1_, 1.0, sim_ini_dict.at("DV1").to_double());  // the walk's own mean stays

  for (std::size_t i = 1; i <= kCVs; ++i) {
    cv_array_dict.set("CV" + std::to_string(i) + "array_10min", frame::StatsWindow());
    open_cv_array_dict.set("OPEN_CV" + std::to_string(i) + "array_10min", frame::StatsWindow());
  }

  const ValueMap& data = get_data();
  places_.plant = plant.places_in(data);
  places_.plant_open = plant_open.places_in(data);
  places_.noise_switch = data.index_of("SET_CV_STD");
  places_.random_dv_switch = data.index_of("SET_DV_RANDOM");
  places_.dv1 = data.index_of("DV1");
  places_.run_count = data.index_of("RunCount");
  for (std::size_t i = 0; i < kCVs; ++i) {
    const std::string cv = "CV" + std::to_string(i + 1);
    // Both plants' outputs follow v_: CV1..CV3, OPEN_CV1..OPEN_CV3.
    if (plant.output_tags()[i] != cv || plant_open.output_tags()[i] != "OPEN_" + cv)
      throw std::logic_error("Calder: plant outputs out of order");
    places_.cv_std[i] = data.index_of(cv + "std_10min");
    places_.open_cv_std[i] = data.index_of("OPEN_" + cv + "std_10min");
  }
}

void Sim::step() {
  ValueMap& data = get_data();
  const std::size_t count = frame::wrap_index(get_task_count(), N);
  const double level = frame::noise_level(at(places_.noise_switch)).to_double();

  const auto sequence = v_.begin();
  for (std::size_t i = 0; i < kCVs; ++i) noise_[i] = level * sequence[i].second[count];

  if (frame::random_dv_on(at(places_.random_dv_switch))) at(places_.dv1) = dv1_[count];

  plant.run_at(data, places_.plant, noise_);
  plant_open.run_at(data, places_.plant_open, noise_);

  const auto window = cv_array_dict.begin();
  const auto open_window = open_cv_array_dict.begin();
  for (std::size_t i = 0; i < kCVs; ++i) {
    window[i].second.append(at(places_.plant.outputs[i]).to_double());
    open_window[i].second.append(at(places_.plant_open.outputs[i]).to_double());
    at(places_.cv_std[i]) = window[i].second.population_std();
    at(places_.open_cv_std[i]) = open_window[i].second.population_std();
  }

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::calder
