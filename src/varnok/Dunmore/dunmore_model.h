#pragma once

// Linear parameter-varying SISO process: CV1 from MV1 and DV1 through two
// local models, valid at operating points 80 and 120, blended by the
// scheduling variable SV1. SV1 follows a fixed 1600-period profile (hold 80,
// ramp to 120, hold, ramp back). Four identical copies A to D let four
// controllers work on the same process, disturbance DV1 and noise sample v1.

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "corvex/lpv_plant_sim.h"
#include "corvex/plant_description.h"
#include "varnok/frame/plant_simulation.h"

namespace varnok::dunmore {

// Local models: 80 is a lightly damped second-order process with a zero,
// 120 a slow first-order lag with a long dead time.
extern const corvex::TransferPath cv1_mv1_w1;
extern const corvex::TransferPath cv1_dv1_w1;
extern const corvex::TransferPath cv1_mv1_w2;
extern const corvex::TransferPath cv1_dv1_w2;

inline constexpr std::array<std::string_view, 4> letters{"A", "B", "C", "D"};

// "W1_A" .. "W2_D" → { "CV1_<L>": { "MV1_<L>": MV path, "DV1": DV path } }.
extern const corvex::OrderedMap<corvex::PlantDescription> yu_model;

inline constexpr std::size_t N = 200000;
inline constexpr std::size_t profile_length = 1600;

// Sequences computed once per process on first use; the same on every load
// since the seed is fixed and nothing else draws from their generator.
const std::vector<double>& v1();   // measurement noise, standard deviation 1, mean kept
const std::vector<double>& dv1();  // random disturbance around 20
const std::vector<double>& MW();   // operating-point profile, profile_length values

const corvex::ValueMap& sim_ini_dict();
const frame::SettingRules& setting_rules();

class LPVSISO final : public frame::PlantSimulation {
 public:
  LPVSISO();

  static constexpr int W1 = 80;   // operating point of local model 1
  static constexpr int W2 = 120;  // operating point of local model 2
  static constexpr std::array<std::string_view, 4> plant_letters = letters;

 private:
  void step() override;

  corvex::LPVPlantSim plant_A;
  corvex::LPVPlantSim plant_B;
  corvex::LPVPlantSim plant_C;
  corvex::LPVPlantSim plant_D;
  std::array<corvex::LPVPlantSim*, 4> plants_;  // in plant_letters order

  // Places in the live map, found once: step() looks no tag up by name.
  struct Places {
    std::array<corvex::LPVPlantSim::Places, 4> plants;  // in plant_letters order
    std::size_t noise_switch, random_dv_switch, dv1, v1, sv1, p1, p2, run_count;
  };
  Places places_;
};

}  // namespace varnok::dunmore
