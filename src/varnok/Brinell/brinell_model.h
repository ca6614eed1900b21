#pragma once

// Integrating single-loop training process: CV1 drifts, like a level, while
// MV1 and DV1 are away from their balance values. Run as a main copy (MV1
// written by the controller under test), an open-loop copy and a copy closed
// by the built-in PID, all under the same DV1 and noise sample. Each copy's
// published CV1 is kept within 0..100 by an anti-windup limiter while the
// plant itself integrates on beyond.

#include <cstddef>
#include <vector>

#include "anti_windup_limiter.h"
#include "corvex/mimo_sim.h"
#include "varnok/frame/plant_simulation.h"
#include "varnok/frame/stats_window.h"
#include "varnok/frame/task_helpers.h"

namespace varnok::brinell {

extern const corvex::PlantDescription plant_model;
extern const corvex::PlantDescription plant_model_OPEN;
extern const corvex::PlantDescription plant_model_PID;
extern const corvex::ValueMap process_ini_dict;
extern const corvex::ValueMap OPEN_ini_dict;
extern const corvex::ValueMap PID_ini_dict;
extern const corvex::ValueMap sim_ini_dict;
extern const frame::SettingRules setting_rules;

class SISOSim final : public frame::PlantSimulation {
 public:
  SISOSim();

  static constexpr std::size_t N = 100000;
  const std::vector<double>& v1() const noexcept { return v1_; }
  const std::vector<double>& dv1() const noexcept { return dv1_; }

 private:
  // One plant copy with the places of its tags in the live map.
  struct Copy {
    corvex::MIMOSim plant;
    corvex::MIMOSim::Places places;
    AntiWindupLimter limiter;
    std::vector<double> u;  // this period's inputs
  };

  void step() override;
  // Publishes the limited CV of one copy; the plant's raw output stays inside.
  void run_copy(Copy& copy, double noise);

  Copy open_;  // open-loop copy
  Copy pid_;   // PID copy
  Copy main_;  // main copy
  frame::BuiltinPid pid;
  std::vector<double> v1_;   // measurement noise, mean 0, standard deviation 1
  std::vector<double> dv1_;  // random DV1 walk around its initial value
  frame::StatsWindow OPEN_CV1std_10min;
  frame::StatsWindow CV1std_10min;
  frame::StatsWindow PID_CV1std_10min;

  // Places in the live map, found once: step() looks no tag up by name.
  struct Places {
    std::size_t noise_switch, random_dv_switch, dv1, run_count;
    std::size_t cv1_std, open_cv1_std, pid_cv1_std;
  };
  Places places_;
};

}  // namespace varnok::brinell
