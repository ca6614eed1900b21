#pragma once

#include <cstdint>
#include <string_view>

#include "corvex/pid.h"
#include "corvex/value.h"
#include "varnok/frame/settings.h"

namespace varnok::frame {

// The noise switch's value when it is above 0, else integer 0.
corvex::Value noise_level(const corvex::ValueMap& data, std::string_view switch_tag);

// True when the random-DV switch is strictly above 0.5.
bool random_dv_on(const corvex::ValueMap& data, std::string_view switch_tag);

// The training plants' built-in PID step: tuning from PID_KP, PID_TI,
// PID_TD, PID_N and limits from MV1_HI, MV1_LO, reloaded every period; the
// new output, from SP1 and PID_CV1 of the previous period on top of PID_MV1,
// is written to PID_MV1.
void run_builtin_pid(corvex::PID& pid, corvex::ValueMap& data);

// What run_builtin_pid reads besides PID_MV1 (an input of the PID copy):
// SP1, PID_CV1, the tuning and the output limits.
SettingRules builtin_pid_settings();

// Index into a sequence of length n: floor modulo, so −1 gives n − 1.
std::size_t wrap_index(std::int64_t count, std::size_t n);

}  // namespace varnok::frame
