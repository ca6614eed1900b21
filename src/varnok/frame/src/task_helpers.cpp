#include "varnok/frame/task_helpers.h"

namespace varnok::frame {

corvex::Value noise_level(const corvex::Value& noise_switch) {
  return noise_switch.to_double() > 0.0 ? noise_switch : corvex::Value(0);
}

bool random_dv_on(const corvex::Value& random_dv_switch) {
  return random_dv_switch.to_double() > 0.5;
}

namespace {

constexpr const char* kGain = "PID_KP";
constexpr const char* kIntegralTime = "PID_TI";
constexpr const char* kDerivativeTime = "PID_TD";
constexpr const char* kFilterFactor = "PID_N";
constexpr const char* kHighLimit = "MV1_HI";
constexpr const char* kLowLimit = "MV1_LO";
constexpr const char* kSetpoint = "SP1";
constexpr const char* kMeasurement = "PID_CV1";
constexpr const char* kOutput = "PID_MV1";

}  // namespace

BuiltinPid::BuiltinPid(double sampling_time, const corvex::ValueMap& data)
    : pid_(sampling_time),
      gain_(data.index_of(kGain)),
      integral_time_(data.index_of(kIntegralTime)),
      derivative_time_(data.index_of(kDerivativeTime)),
      filter_factor_(data.index_of(kFilterFactor)),
      high_limit_(data.index_of(kHighLimit)),
      low_limit_(data.index_of(kLowLimit)),
      setpoint_(data.index_of(kSetpoint)),
      measurement_(data.index_of(kMeasurement)),
      output_(data.index_of(kOutput)) {}

void BuiltinPid::run(corvex::ValueMap& data) {
  const auto value = [&](std::size_t place) { return data.value_at(place).to_double(); };
  pid_.setPIDParam(value(gain_), value(integral_time_), value(derivative_time_), value(filter_factor_));
  pid_.setOPHighLowLimit(value(high_limit_), value(low_limit_));
  const double output = pid_.run(1, value(setpoint_), value(measurement_), value(output_));
  data.value_at(output_) = output;
}

SettingRules builtin_pid_settings() {
  // The measurement is the plant's output, but a client may write it
  // before the PID reads it.
  return join({values({kSetpoint, kMeasurement, kGain, kDerivativeTime}),
               divisors({kIntegralTime, kFilterFactor}), limits(kLowLimit, kHighLimit)});
}

std::size_t wrap_index(std::int64_t count, std::size_t n) {
  const auto len = static_cast<std::int64_t>(n);
  const std::int64_t r = count % len;
  return static_cast<std::size_t>(r < 0 ? r + len : r);
}

}  // namespace varnok::frame
