#pragma once

// What a plant can use of what clients write. Every plant declares, in one
// short table, the tags it reads from the live map (its settings) and the
// kind of each; SettingGuard refuses a written value the plant cannot use.
// Tags the plant overwrites every period before reading them are not
// settings.

#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "corvex/plant_description.h"

namespace varnok::frame {

// The magnitude rule, the same for every plant: a number the plant computes
// with must be finite and at most kMaxSettingMagnitude in magnitude, and a
// positive divisor (integral time, derivative filter factor) at least
// kMinPositiveDivisor. Why that keeps every state and output finite, with
// all settings at their bounds at once (M = 1e50):
// - a CV moves by less than 25 times the largest deviation of an input
//   (Fractor's CV2 sums its five gains to 21.4; Dunmore's underdamped model
//   at 80 amplifies a held input at most 13.8 times), and noise is below 5
//   times its standard deviation, so every CV stays below 100·M;
// - a 10-minute window sums 600 squares of such deviations: below 1e108;
// - the built-in PID's derivative filter multiplies TD/N (<= M²) by a state
//   of at most TD·ΔPV/Ts (<= 2e102): about 2e202, its largest product;
// - Brinell's integrators gain less than 0.14·M per period, so its level
//   stays finite for more than 1e250 periods.
inline constexpr double kMaxSettingMagnitude = 1e50;
inline constexpr double kMinPositiveDivisor = 1e-50;

enum class SettingKind {
  kValue,      // MV, DV, setpoint, noise level, PID gain or derivative time
  kDivisor,    // a value whose positive size divides (TI, N); <= 0 switches the action off
  kLowLimit,   // a value not above its partner
  kHighLimit,  // a value not below its partner
  kFinite,     // compared with a threshold only (a switch) or kept for clients, never read
};

struct SettingRule {
  std::string tag;
  SettingKind kind = SettingKind::kValue;
  std::string partner;  // the other limit of a pair

  friend bool operator==(const SettingRule&, const SettingRule&) = default;
};

using SettingRules = std::vector<SettingRule>;

// Whether `value` can be a setting of this kind. The order of a limit pair
// is the guard's to check. Inline: every setting is checked every period.
inline bool usable(SettingKind kind, double value) {
  if (!std::isfinite(value)) return false;
  if (kind == SettingKind::kFinite) return true;
  if (std::abs(value) > kMaxSettingMagnitude) return false;
  return !(kind == SettingKind::kDivisor && value > 0.0 && value < kMinPositiveDivisor);
}

// Why `value` cannot be a setting of this kind; empty when it can.
std::string_view refusal(SettingKind kind, double value);

// Table builders, each keeping the order given.
SettingRules values(std::initializer_list<std::string_view> tags);
// Every input (MV, DV) of the plant copies, each once.
SettingRules inputs_of(std::initializer_list<std::reference_wrapper<const corvex::PlantDescription>> plants);
SettingRules divisors(std::initializer_list<std::string_view> tags);
SettingRules switches(std::initializer_list<std::string_view> tags);
SettingRules limits(std::string_view low, std::string_view high);
// Tags kept for clients and never read by the plant (a controller's CV
// limits, setpoints where no built-in PID reads them).
SettingRules unread(std::initializer_list<std::string_view> tags);
// The spare tags every plant ends with (BK1..BK8): unread.
SettingRules spares();

// The parts in order; a rule repeated exactly is kept once.
SettingRules join(std::initializer_list<SettingRules> parts);

}  // namespace varnok::frame
