#pragma once

#include <cstddef>
#include <cstdint>

#include "corvex/pid.h"
#include "corvex/value.h"
#include "varnok/frame/settings.h"

namespace varnok::frame {

// The noise switch's value when it is above 0, else integer 0.
corvex::Value noise_level(const corvex::Value& noise_switch);

// True when the random-DV switch is strictly above 0.5.
bool random_dv_on(const corvex::Value& random_dv_switch);

// The training plants' built-in PID: tuning from PID_KP, PID_TI, PID_TD,
// PID_N and limits from MV1_HI, MV1_LO, reloaded every period; the new
// output, from SP1 and PID_CV1 of the previous period on top of PID_MV1, is
// written to PID_MV1.
class BuiltinPid {
 public:
  // Finds its tags in the simulation's live map (MissingKey when one is absent).
  BuiltinPid(double sampling_time, const corvex::ValueMap& data);
  // One step on that map.
  void run(corvex::ValueMap& data);

 private:
  corvex::PID pid_;
  // The tags' places in the live map.
  std::size_t gain_, integral_time_, derivative_time_, filter_factor_;
  std::size_t high_limit_, low_limit_, setpoint_, measurement_, output_;
};

// What BuiltinPid reads besides PID_MV1 (an input of the PID copy):
// SP1, PID_CV1, the tuning and the output limits.
SettingRules builtin_pid_settings();

// Index into a sequence of length n: floor modulo, so −1 gives n − 1.
std::size_t wrap_index(std::int64_t count, std::size_t n);

}  // namespace varnok::frame
