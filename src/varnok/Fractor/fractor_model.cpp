#include "fractor_model.h"

#include <string>
#include <utility>

#include "varnok/frame/noise.h"
#include "varnok/frame/tag_names.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::fractor {

using corvex::ValueMap;

namespace {

// K·e^(−D·s)/(T·s + 1). These coefficients are this plant's own; some
// published versions of the benchmark differ, and must not be swapped in.
corvex::TransferPath lag(double gain, double time_constant, double dead_time) {
  return {.num_s = {0, gain}, .den_s = {time_constant, 1}, .iodelay_s = dead_time};
}

// Tags step() reaches, by the places found for them at construction.
constexpr std::array<std::string_view, ShellSim::kCVs> kCV{"CV1", "CV2", "CV3", "CV4", "CV5", "CV6", "CV7"};
constexpr std::array<std::string_view, ShellSim::kCVs> kOpenCV{"OPEN_CV1", "OPEN_CV2", "OPEN_CV3", "OPEN_CV4",
                                                               "OPEN_CV5", "OPEN_CV6", "OPEN_CV7"};
constexpr std::array<std::string_view, ShellSim::kCVs> kCVStd{"CV1std_10min", "CV2std_10min", "CV3std_10min",
                                                              "CV4std_10min", "CV5std_10min", "CV6std_10min",
                                                              "CV7std_10min"};
constexpr std::array<std::string_view, ShellSim::kCVs> kOpenCVStd{
    "OPEN_CV1std_10min", "OPEN_CV2std_10min", "OPEN_CV3std_10min", "OPEN_CV4std_10min",
    "OPEN_CV5std_10min", "OPEN_CV6std_10min", "OPEN_CV7std_10min"};
constexpr std::array<std::string_view, 2> kDV{"DV1", "DV2"};
constexpr std::string_view kNoiseSwitch = "SET_CV_STD";
constexpr std::string_view kRandomDvSwitch = "SET_DV_RANDOM";

ValueMap zeros(const std::array<std::string_view, ShellSim::kCVs>& tags) {
  ValueMap out;
  for (const auto tag : tags) out.set(tag, 0.0);
  return out;
}

}  // namespace

const corvex::PlantDescription plant_model = {
    {"CV1",
     {{"MV1", lag(4.05, 50, 25)},
      {"MV2", lag(1.77, 60, 27)},
      {"MV3", lag(5.88, 50, 25)},
      {"DV1", lag(1.2, 45, 25)},
      {"DV2", lag(1.44, 40, 25)}}},
    {"CV2",
     {{"MV1", lag(5.39, 50, 17)},
      {"MV2", lag(5.72, 60, 17)},
      {"MV3", lag(6.9, 40, 15)},
      {"DV1", lag(1.52, 25, 15)},
      {"DV2", lag(1.83, 20, 15)}}},
    {"CV3",
     {{"MV1", lag(3.66, 9, 4)},
      {"MV2", lag(1.65, 30, 4)},
      {"MV3", lag(5.53, 40, 6)},
      {"DV1", lag(1.16, 11, 4)},
      {"DV2", lag(1.27, 6, 4)}}},
    {"CV4",
     {{"MV1", lag(5.92, 12, 8)},
      {"MV2", lag(2.54, 27, 9)},
      {"MV3", lag(8.1, 20, 9)},
      {"DV1", lag(1.73, 5, 8)},
      {"DV2", lag(1.79, 19, 9)}}},
    {"CV5",
     {{"MV1", lag(4.13, 8, 5)},
      {"MV2", lag(2.38, 19, 7)},
      {"MV3", lag(6.23, 10, 5)},
      {"DV1", lag(1.31, 2, 5)},
      {"DV2", lag(1.26, 22, 5)}}},
    {"CV6",
     {{"MV1", lag(4.06, 13, 7)},
      {"MV2", lag(4.18, 33, 7)},
      {"MV3", lag(6.53, 9, 5)},
      {"DV1", lag(1.19, 19, 5)},
      {"DV2", lag(1.17, 24, 5)}}},
    {"CV7",
     {{"MV1", lag(4.38, 33, 15)},
      {"MV2", lag(4.42, 44, 15)},
      {"MV3", lag(7.2, 19, 15)},
      {"DV1", lag(1.14, 27, 16)},
      {"DV2", lag(1.26, 32, 17)}}},
};
const corvex::PlantDescription plant_model_OPEN = frame::derive_copy(plant_model, "OPEN_");

const ValueMap process_ini_dict = {
    {"MV1", 15.0}, {"MV2", 20.0}, {"MV3", 35.0},     {"DV1", 10.0},        {"DV2", 10.0},
    {"CV1", 31.0}, {"CV2", 32.0}, {"CV3", 33.0},     {"CV4", 34.0},        {"CV5", 35.0},
    {"CV6", 36.0}, {"CV7", 37.0}, {"SET_CV_STD", 1}, {"SET_DV_RANDOM", 1},
};
const ValueMap OPEN_ini_dict = frame::derive_copy_ini(process_ini_dict, "OPEN_");

const ValueMap sim_ini_dict = frame::merge_all({
    process_ini_dict,
    OPEN_ini_dict,
    zeros(kCVStd),
    zeros(kOpenCVStd),
    frame::bookkeeping_tags(),
});

const frame::SettingRules setting_rules = frame::join({
    frame::inputs_of({plant_model, plant_model_OPEN}),
    frame::values({kNoiseSwitch}),  // the noise level; <= 0 is off
    frame::switches({kRandomDvSwitch}),
    frame::spares(),
});

ShellSim::ShellSim()
    : PlantSimulation(sim_ini_dict, setting_rules),
      plant(plant_model, sim_ini_dict, 1.0),
      plant_open(plant_model_OPEN, sim_ini_dict, 1.0) {
  // One generator, eleven blocks of N in a fixed order: CV1..CV7, then the
  // slow and fast parts of DV1, then those of DV2.
  frame::NormalGenerator gen(1);

  constexpr std::array noise_num{1.0, -0.5, 0.7};
  constexpr std::array<double, kCVs> second_pole{-0.99, -0.99, -0.98, -0.98, -0.97, -0.98, -0.98};
  for (std::size_t i = 0; i < kCVs; ++i) {
    const auto den = frame::poly_mul(std::array{1.0, -0.95}, std::array{1.0, second_pole[i]});
    v_.set(kCV[i], frame::coloured_noise(gen, N, noise_num, den));
  }
  for (auto& entry : v_) frame::standardise(entry.second);

  struct Walk {
    std::string_view tag;
    double fast_weight;
    double amplitude;
  };
  constexpr std::array walk_num{1.0, 0.7};
  const auto slow_den = frame::poly_mul(std::array{1.0, -0.95}, std::array{1.0, -0.95});
  const auto fast_den = frame::poly_mul(std::array{1.0, -0.15}, std::array{1.0, -0.19});
  for (const Walk& walk : {Walk{kDV[0], 5.5, 1.3}, Walk{kDV[1], 9.5, 0.9}}) {
    std::vector<double> sum = frame::random_walk(gen, N, walk_num, slow_den, fast_den, walk.fast_weight);
    frame::remove_mean(sum);
    frame::scale_about(sum, walk.amplitude, sim_ini_dict.at(walk.tag).to_double());
    dv_.set(walk.tag, std::move(sum));
  }

  for (std::size_t i = 0; i < kCVs; ++i) {
    cv_array_dict.set(std::string(kCV[i]) + "array_10min", frame::StatsWindow());
    open_cv_array_dict.set(std::string(kOpenCV[i]) + "array_10min", frame::StatsWindow());
  }

  const ValueMap& data = get_data();
  places_.plant = plant.places_in(data);
  places_.plant_open = plant_open.places_in(data);
  places_.noise_switch = data.index_of(kNoiseSwitch);
  places_.random_dv_switch = data.index_of(kRandomDvSwitch);
  places_.run_count = data.index_of("RunCount");
  for (std::size_t i = 0; i < kDV.size(); ++i) places_.dv[i] = data.index_of(kDV[i]);
  for (std::size_t i = 0; i < kCVs; ++i) {
    places_.cv[i] = data.index_of(kCV[i]);
    places_.open_cv[i] = data.index_of(kOpenCV[i]);
    places_.cv_std[i] = data.index_of(kCVStd[i]);
    places_.open_cv_std[i] = data.index_of(kOpenCVStd[i]);
  }
}

void ShellSim::step() {
  ValueMap& data = get_data();
  const std::size_t k = frame::wrap_index(get_task_count(), N);
  const double vstd = frame::noise_level(at(places_.noise_switch)).to_double();

  const auto sequence = v_.begin();
  for (std::size_t i = 0; i < kCVs; ++i) noise_[i] = vstd * sequence[i].second[k];

  if (frame::random_dv_on(at(places_.random_dv_switch))) {
    const auto walk = dv_.begin();
    for (std::size_t i = 0; i < kDV.size(); ++i) at(places_.dv[i]) = walk[i].second[k];
  }

  plant.run_at(data, places_.plant, noise_);
  plant_open.run_at(data, places_.plant_open, noise_);

  // Every window first, then every deviation: the windows' work overlaps.
  const auto cv_window = cv_array_dict.begin();
  const auto open_window = open_cv_array_dict.begin();
  for (std::size_t i = 0; i < kCVs; ++i) {
    cv_window[i].second.append(at(places_.cv[i]).to_double());
    open_window[i].second.append(at(places_.open_cv[i]).to_double());
  }
  for (std::size_t i = 0; i < kCVs; ++i) {
    at(places_.cv_std[i]) = cv_window[i].second.population_std();
    at(places_.open_cv_std[i]) = open_window[i].second.population_std();
  }

  at(places_.run_count) = get_task_count();
}

}  // namespace varnok::fractor
