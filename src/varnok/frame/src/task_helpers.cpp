#include "varnok/frame/task_helpers.h"

namespace varnok::frame {

corvex::Value noise_level(const corvex::ValueMap& data, std::string_view switch_tag) {
  const corvex::Value& level = data.at(switch_tag);
  return level.to_double() > 0.0 ? level : corvex::Value(0);
}

bool random_dv_on(const corvex::ValueMap& data, std::string_view switch_tag) {
  return data.at(switch_tag).to_double() > 0.5;
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

void run_builtin_pid(corvex::PID& pid, corvex::ValueMap& data) {
  pid.setPIDParam(data.at(kGain).to_double(), data.at(kIntegralTime).to_double(),
                  data.at(kDerivativeTime).to_double(), data.at(kFilterFactor).to_double());
  pid.setOPHighLowLimit(data.at(kHighLimit).to_double(), data.at(kLowLimit).to_double());
  data.set(kOutput, pid.run(1, data.at(kSetpoint).to_double(), data.at(kMeasurement).to_double(),
                            data.at(kOutput).to_double()));
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
