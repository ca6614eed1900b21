#include "siso_model.h"

#include <span>

#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::siso {

using corvex::Value;
using corvex::ValueMap;

const corvex::PlantDescription plant_model = {
    {"CV1",
     {
         {"MV1", {.num_s = {0, 3.8}, .den_s = {30, 1}, .iodelay_s = 17}},
         {"DV1", {.num_s = {0, 3.3}, .den_s = {20, 1}, .iodelay_s = 4}},
     }},
};
const corvex::PlantDescription plant_model_OPEN = frame::derive_copy(plant_model, "OPEN_");
const corvex::PlantDescription plant_model_PID = frame::derive_copy(plant_model, "PID_");

const ValueMap process_ini_dict = {{"MV1", 29}, {"CV1", 31}, {"DV1", 33}};
const ValueMap OPEN_ini_dict = frame::derive_copy_ini(process_ini_dict, "OPEN_");
const ValueMap PID_ini_dict = frame::merge_all({
    frame::derive_copy_ini(process_ini_dict, "PID_"),
    {{"PID_KP", 0.2}, {"PID_TI", 28}, {"PID_TD", 0.0}, {"PID_N", 10.0}},
});

const ValueMap sim_ini_dict = frame::merge_all({
    process_ini_dict,
    {{"MV1_HI", 100.0},
     {"MV1_LO", 0.0},
     {"SP1", 31},
     {"CV1_HI", 35.0},
     {"CV1_LO", 25.0},
     {"SET_CV1_STD", 0.0},
     {"SET_DV1_RANDOM", 0.0}},
    OPEN_ini_dict,
    PID_ini_dict,
    {{"CV1std_10min", 0.0}, {"OPEN_CV1std_10min", 0.0}, {"PID_CV1std_10min", 0.0}},
    frame::bookkeeping_tags(),
});

const frame::SettingRules setting_rules = frame::join({
    frame::inputs_of({plant_model, plant_model_OPEN, plant_model_PID}),
    frame::builtin_pid_settings(),
    frame::unread({"CV1_HI", "CV1_LO"}),  // for the controller under test
    frame::values({"SET_CV1_STD"}),       // the noise level; <= 0 is off
    frame::switches({"SET_DV1_RANDOM"}),
    frame::spares(),
});

SISOSim::SISOSim()
    : PlantSimulation(sim_ini_dict, setting_rules),
      plant_open(plant_model_OPEN, sim_ini_dict, get_sampling_time()),
      plant(plant_model, sim_ini_dict, get_sampling_time()),
      plant_pid(plant_model_PID, sim_ini_dict, get_sampling_time()),
      pid(get_sampling_time(), get_data()) {
  frame::NormalGenerator gen(3);
  v1_ = frame::coloured_noise(gen, N, std::vector{1.0, -0.5, 0.3}, std::vector{1.0, -1.94, 0.9405});
  frame::standardise(v1_);

  const std::vector walk_num{1.0, 0.7, -0.1};
  dv1_ = frame::random_walk(gen, N, walk_num, std::vector{1.0, -1.9, 0.9025}, std::vector{1.0, -0.34, 0.0285},
                            10.0);
  frame::remove_mean(dv1_);
  frame::scale_about(dv1_, 1.0, sim_ini_dict.at("DV1").to_double());

  const ValueMap& data = get_data();
  places_ = {.plant_open = plant_open.places_in(data),
             .plant = plant.places_in(data),
             .plant_pid = plant_pid.places_in(data),
             .noise_switch = data.index_of("SET_CV1_STD"),
             .random_dv_switch = data.index_of("SET_DV1_RANDOM"),
             .dv1 = data.index_of("DV1"),
             .run_count = data.index_of("RunCount"),
             .cv1 = data.index_of("CV1"),
             .open_cv1 = data.index_of("OPEN_CV1"),
             .pid_cv1 = data.index_of("PID_CV1"),
             .cv1_std = data.index_of("CV1std_10min"),
             .open_cv1_std = data.index_of("OPEN_CV1std_10min"),
             .pid_cv1_std = data.index_of("PID_CV1std_10min")};
}

void SISOSim::step() {
  ValueMap& data = get_data();
  const std::size_t count = frame::wrap_index(get_task_count(), N);
  const double noise = frame::noise_level(at(places_.noise_switch)).to_double() * v1_[count];
  const std::span<const double> v(&noise, 1);  // each copy's one CV

  if (frame::random_dv_on(at(places_.random_dv_switch))) at(places_.dv1) = dv1_[count];

  pid.run(data);

  plant.run_at(data, places_.plant, v);
  plant_open.run_at(data, places_.plant_open, v);
  plant_pid.run_at(data, places_.plant_pid, v);

  CV1std_10min.append(at(places_.cv1).to_double());
  at(places_.cv1_std) = CV1std_10min.population_std();
  OPEN_CV1std_10min.append(at(places_.open_cv1).to_double());
  at(places_.open_cv1_std) = OPEN_CV1std_10min.population_std();
  PID_CV1std_10min.append(at(places_.pid_cv1).to_double());
  at(places_.pid_cv1_std) = PID_CV1std_10min.population_std();

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::siso
