#include "brinell_model.h"

#include <span>

#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::brinell {

using corvex::Value;
using corvex::ValueMap;

const corvex::PlantDescription plant_model = {
    {"CV1",
     {
         {"MV1", {.num_s = {0, 0.08}, .den_s = {30, 1}, .iodelay_s = 17, .integral = true}},
         {"DV1", {.num_s = {0, 0.06}, .den_s = {20, 1}, .iodelay_s = 4, .integral = true}},
     }},
};
const corvex::PlantDescription plant_model_OPEN = frame::derive_copy(plant_model, "OPEN_");
const corvex::PlantDescription plant_model_PID = frame::derive_copy(plant_model, "PID_");

const ValueMap process_ini_dict = {{"MV1", 29}, {"CV1", 51}, {"DV1", 33}};
const ValueMap OPEN_ini_dict = frame::derive_copy_ini(process_ini_dict, "OPEN_");
const ValueMap PID_ini_dict = frame::merge_all({
    frame::derive_copy_ini(process_ini_dict, "PID_"),
    {{"PID_KP", 0.2}, {"PID_TI", 150}, {"PID_TD", 20.0}, {"PID_N", 100.0}},
});

const ValueMap sim_ini_dict = frame::merge_all({
    process_ini_dict,
    {{"SP1", 51}, {"MV1_HI", 100.0}, {"MV1_LO", 0.0}, {"SET_CV_STD", 0.0}, {"SET_DV_RANDOM", 0.0}},
    OPEN_ini_dict,
    PID_ini_dict,
    {{"CV1std_10min", 0.0}, {"OPEN_CV1std_10min", 0.0}, {"PID_CV1std_10min", 0.0}},
    frame::bookkeeping_tags(),
});

const frame::SettingRules setting_rules = frame::join({
    frame::inputs_of({plant_model, plant_model_OPEN, plant_model_PID}),
    frame::builtin_pid_settings(),
    frame::values({"SET_CV_STD"}),  // the noise level; <= 0 is off
    frame::switches({"SET_DV_RANDOM"}),
    frame::spares(),
});

SISOSim::SISOSim()
    : PlantSimulation(sim_ini_dict, setting_rules),
      open_{corvex::MIMOSim(plant_model_OPEN, sim_ini_dict, get_sampling_time()), {}, {}, {}},
      pid_{corvex::MIMOSim(plant_model_PID, sim_ini_dict, get_sampling_time()), {}, {}, {}},
      main_{corvex::MIMOSim(plant_model, sim_ini_dict, get_sampling_time()), {}, {}, {}},
      pid(get_sampling_time(), get_data()) {
  frame::NormalGenerator gen(2);
  v1_ = frame::coloured_noise(gen, N, std::vector{1.0, -0.5, 0.3}, std::vector{1.0, -1.98, 0.9801});
  frame::standardise(v1_);

  const std::vector walk_num{1.0, 0.7, -0.1};
  dv1_ = frame::random_walk(gen, N, walk_num, std::vector{1.0, -1.87, 0.874}, std::vector{1.0, -0.34, 0.0285},
                            10.0);
  frame::remove_mean(dv1_);
  frame::scale_about(dv1_, 1.0, sim_ini_dict.at("DV1").to_double());

  const ValueMap& data = get_data();
  for (Copy* copy : {&open_, &pid_, &main_}) {
    copy->places = copy->plant.places_in(data);
    copy->u.resize(copy->places.inputs.size());
  }
  places_ = {.noise_switch = data.index_of("SET_CV_STD"),
             .random_dv_switch = data.index_of("SET_DV_RANDOM"),
             .dv1 = data.index_of("DV1"),
             .run_count = data.index_of("RunCount"),
             .cv1_std = data.index_of("CV1std_10min"),
             .open_cv1_std = data.index_of("OPEN_CV1std_10min"),
             .pid_cv1_std = data.index_of("PID_CV1std_10min")};
}

void SISOSim::run_copy(Copy& copy, double noise) {
  for (std::size_t i = 0; i < copy.u.size(); ++i) copy.u[i] = at(copy.places.inputs[i]).to_double();
  double y = 0.0;  // the copy's one CV
  copy.plant.run(copy.u, std::span<double>(&y, 1), std::span<const double>(&noise, 1));
  at(copy.places.outputs.front()) = copy.limiter.run(y, 100, 0);
}

void SISOSim::step() {
  ValueMap& data = get_data();
  const std::size_t count = frame::wrap_index(get_task_count(), N);
  const double noise = frame::noise_level(at(places_.noise_switch)).to_double() * v1_[count];

  if (frame::random_dv_on(at(places_.random_dv_switch))) at(places_.dv1) = dv1_[count];

  pid.run(data);

  run_copy(open_, noise);
  run_copy(pid_, noise);
  run_copy(main_, noise);

  const auto cv = [&](const Copy& copy) { return at(copy.places.outputs.front()).to_double(); };
  CV1std_10min.append(cv(main_));
  at(places_.cv1_std) = CV1std_10min.population_std();
  OPEN_CV1std_10min.append(cv(open_));
  at(places_.open_cv1_std) = OPEN_CV1std_10min.population_std();
  PID_CV1std_10min.append(cv(pid_));
  at(places_.pid_cv1_std) = PID_CV1std_10min.population_std();

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::brinell
