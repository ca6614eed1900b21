#pragma once

// Shell heavy-oil fractionator benchmark: MV1..MV3 and DV1, DV2 drive
// CV1..CV7, every path a first-order lag with dead time (one period = 1 s).
// A controlled copy (MVs written by the controller under test) and an
// open-loop reference copy (OPEN_MV → OPEN_CV) run side by side under the
// same DVs and the same noise samples. Noise and random DVs are on at start.

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "corvex/mimo_sim.h"
#include "varnok/frame/plant_simulation.h"
#include "varnok/frame/stats_window.h"

namespace varnok::fractor {

extern const corvex::PlantDescription plant_model;
extern const corvex::PlantDescription plant_model_OPEN;
extern const corvex::ValueMap process_ini_dict;
extern const corvex::ValueMap OPEN_ini_dict;
extern const corvex::ValueMap sim_ini_dict;
extern const frame::SettingRules setting_rules;

class ShellSim final : public frame::PlantSimulation {
 public:
  static constexpr std::size_t N = 100000;
  static constexpr std::size_t kCVs = 7;

  // Builds both plants and draws all eleven noise blocks (seed 1): slow-ish.
  ShellSim();

  // CV1..CV7 → measurement noise, mean 0, standard deviation 1.
  const corvex::OrderedMap<std::vector<double>>& v() const noexcept { return v_; }
  // DV1, DV2 → values written to the DV tags while random DVs are on.
  const corvex::OrderedMap<std::vector<double>>& dv() const noexcept { return dv_; }

 private:
  void step() override;

  corvex::MIMOSim plant;
  corvex::MIMOSim plant_open;
  corvex::OrderedMap<std::vector<double>> v_;
  corvex::OrderedMap<std::vector<double>> dv_;
  // Keyed CVi + "array_10min" (resp. OPEN_CVi...), walked by position in step().
  corvex::OrderedMap<frame::StatsWindow> cv_array_dict;
  corvex::OrderedMap<frame::StatsWindow> open_cv_array_dict;

  // Places in the live map, found once: step() looks no tag up by name.
  struct Places {
    corvex::MIMOSim::Places plant, plant_open;
    std::size_t noise_switch, random_dv_switch, run_count;
    std::array<std::size_t, 2> dv;
    std::array<std::size_t, kCVs> cv, open_cv, cv_std, open_cv_std;
  };
  Places places_;
  // This period's noise of CV1..CV7; both copies get the same samples.
  std::array<double, kCVs> noise_{};
};

}  // namespace varnok::fractor
