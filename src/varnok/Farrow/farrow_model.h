#pragma once

// SISO process upset by a measured disturbance DV1 that is partly
// predictable: DV1 = a slow random part + the response of a known
// first-order-plus-dead-time path to the leading disturbance DV0. The
// predictable part is published alone as _DV1Sim. Three identical copies A
// to C let three controllers work against the same disturbance. The model
// writes DV0, _DV1Sim, DV1 and v1 every period; there are no switches and
// the measurement noise is identically zero.

#include <cstddef>
#include <vector>

#include "corvex/mimo_sim.h"
#include "corvex/plant_description.h"
#include "varnok/frame/plant_simulation.h"

namespace varnok::farrow {

extern const corvex::PlantDescription plant_model_A;
extern const corvex::PlantDescription plant_model_B;
extern const corvex::PlantDescription plant_model_C;

inline constexpr std::size_t N = 200000;

// Sequences computed once per process on first use; the same on every load
// since the seed is fixed and nothing else draws from their generator.
const std::vector<double>& v1();         // measurement noise, all +0.0
const std::vector<double>& dv1_part1();  // unpredictable part, around 20
const std::vector<double>& dv0();        // leading disturbance, around 0
// Discrete path from dv0 to the predictable part, ascending powers of z^-1,
// dead time included: y[n] = a·y[n−1] + 2(1 − a)·u[n−16], a = e^(−1/30).
const std::vector<double>& G0num();
const std::vector<double>& G0den();
const std::vector<double>& dv1_sim();  // predictable part, around 30
const std::vector<double>& dv1();      // dv1_part1 + dv1_sim, around 50

const corvex::ValueMap& sim_ini_dict();
const frame::SettingRules& setting_rules();

class DV_Prd final : public frame::PlantSimulation {
 public:
  DV_Prd();

 private:
  void step() override;

  corvex::MIMOSim plantA;
  corvex::MIMOSim plantB;
  corvex::MIMOSim plantC;

  // Places in the live map, found once: step() looks no tag up by name.
  struct Places {
    corvex::MIMOSim::Places plantA, plantB, plantC;
    std::size_t dv0, dv1_sim, dv1, v1, run_count;
  };
  Places places_;
};

}  // namespace varnok::farrow
