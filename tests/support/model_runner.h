#pragma once

// Drives a simulation the way the gateway does: values written before a
// period, then task() with the next count.

#include <cstdint>
#include <string>

#include "corvex/simulink.h"

namespace varnok::testing {

inline double tag(const corvex::Simulink& sim, const std::string& name) {
  return sim.get_data().at(name).to_double();
}

inline void run_periods(corvex::Simulink& sim, std::int64_t periods) {
  for (std::int64_t i = 0; i < periods; ++i) sim.run_task(sim.get_task_count() + 1);
}

// First-order-plus-dead-time unit step response at t seconds after the step
// took effect on the plant's input.
double fopdt_step(double gain, double tau, double delay, double t);

}  // namespace varnok::testing

#include <cmath>

inline double varnok::testing::fopdt_step(double gain, double tau, double delay, double t) {
  return t <= delay ? 0.0 : gain * (1.0 - std::exp(-(t - delay) / tau));
}
