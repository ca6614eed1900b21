#include "tank_level.h"

#include <algorithm>
#include <cmath>

#include "varnok/frame/plugin.h"

namespace tank {

namespace {

constexpr double kArea = 2.0;
constexpr double kMaxInflow = 0.05;
constexpr double kDrain = 0.02;
constexpr double kHeight = 4.0;
constexpr int kSubSteps = 10;

// A non-finite value written from outside must not poison the level.
double finite_or(double value, double fallback) {
  return std::isfinite(value) ? value : fallback;
}

}  // namespace

TankLevel::TankLevel() : Simulink({{"MV1", 40.0}, {"DV1", 0.0}, {"CV1", 1.0}, {"RunCount", 0}}) {}

void TankLevel::task() {
  corvex::ValueMap& data = get_data();
  const double valve = std::clamp(finite_or(data.at("MV1").to_double(), 0.0), 0.0, 100.0);
  const double drain = std::clamp(finite_or(data.at("DV1").to_double(), 0.0), 0.0, 100.0);
  double level = finite_or(data.at("CV1").to_double(), 0.0);
  const double dt = get_sampling_time() / kSubSteps;
  for (int i = 0; i < kSubSteps; ++i) {
    const double inflow = kMaxInflow * valve / 100.0;
    const double outflow = kDrain * (1.0 + drain / 100.0) * std::sqrt(std::max(level, 0.0));
    level = std::clamp(level + dt * (inflow - outflow) / kArea, 0.0, kHeight);
  }
  data.set("CV1", level);
  data.set("RunCount", get_task_count());
}

}  // namespace tank

VARNOK_SIMULATION_MODULE("tank", "TankLevel", tank::TankLevel)
