#pragma once

// Multivariable training process: MV1 and MV2 and the measured disturbance
// DV1 drive CV1, CV2 and CV3 through first-order lags with dead time. Run as
// a main copy (MVs written by the controller under test) and an open-loop
// copy, both under the same DV1 and noise samples. The plants advance 1 s per
// period whatever the framework's sampling time.

#include <array>
#include <cstddef>
#include <vector>

#include "corvex/mimo_sim.h"
#include "varnok/frame/plant_simulation.h"
#include "varnok/frame/stats_window.h"

namespace varnok::calder {

extern const corvex::PlantDescription plant_model;
extern const corvex::PlantDescription plant_model_OPEN;
extern const corvex::ValueMap process_ini_dict;
extern const corvex::ValueMap OPEN_ini_dict;
extern const corvex::ValueMap sim_ini_dict;
extern const frame::SettingRules setting_rules;

class Sim final : public frame::PlantSimulation {
 public:
  Sim();
  // For a framework running another sampling time; the plants keep 1 s.
  explicit Sim(corvex::Simulink::Options framework);

  static constexpr std::size_t N = 100000;
  // "CV1", "CV2", "CV3" -> measurement noise, mean 0, standard deviation 1.
  const corvex::OrderedMap<std::vector<double>>& v() const noexcept { return v_; }
  // Random DV1 walk: standard deviation 1, raw mean kept.
  const std::vector<double>& dv1() const noexcept { return dv1_; }

 private:
  void step() override;

  corvex::MIMOSim plant;
  corvex::MIMOSim plant_open;
  corvex::OrderedMap<std::vector<double>> v_;
  std::vector<double> dv1_;
  corvex::OrderedMap<frame::StatsWindow> cv_array_dict;       // "CV<i>array_10min"
  corvex::OrderedMap<frame::StatsWindow> open_cv_array_dict;  // "OPEN_CV<i>array_10min"

  // Places in the live map, found once: step() looks no tag up by name.
  static constexpr std::size_t kCVs = 3;
  struct Places {
    corvex::MIMOSim::Places plant, plant_open;
    std::size_t noise_switch, random_dv_switch, dv1, run_count;
    std::array<std::size_t, kCVs> cv_std, open_cv_std;
  };
  Places places_;
  // This period's noise of CV1..CV3, the order of both plants' outputs.
  std::array<double, kCVs> noise_{};
};

}  // namespace varnok::calder
