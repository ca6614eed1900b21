#pragma once

#include "corvex/simulink.h"

namespace tank {

// A tank drained by gravity through a valve:
//
//   A dh/dt = q_max * MV1/100 - c * (1 + DV1/100) * sqrt(h)
//
// h: level CV1 in m (0 .. height), MV1: inflow valve in %, DV1: extra drain
// opening in %. A = 2 m², q_max = 0.05 m³/s, c = 0.02 m^2.5/s, height 4 m.
// Each period integrates one sampling time (1 s) in ten explicit Euler
// sub-steps, with the inputs held; the level is clipped to the tank.
// Starts in steady state: MV1 = 40 % gives h = (0.02 / 0.02)² = 1 m.
class TankLevel final : public corvex::Simulink {
 public:
  TankLevel();
  void task() override;
};

}  // namespace tank
