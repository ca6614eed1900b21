#include "varnok/frame/task_helpers.h"

namespace varnok::frame {

corvex::Value noise_level(const corvex::ValueMap& data, std::string_view switch_tag) {
  const corvex::Value& level = data.at(switch_tag);
  return level.to_double() > 0.0 ? level : corvex::Value(0);
}

bool random_dv_on(const corvex::ValueMap& data, std::string_view switch_tag) {
  return data.at(switch_tag).to_double() > 0.5;
}

void run_builtin_pid(corvex::PID& pid, corvex::ValueMap& data) {
  pid.setPIDParam(data.at("PID_KP").to_double(), data.at("PID_TI").to_double(), data.at("PID_TD").to_double(),
                  data.at("PID_N").to_double());
  pid.setOPHighLowLimit(data.at("MV1_HI").to_double(), data.at("MV1_LO").to_double());
  data.set("PID_MV1", pid.run(1, data.at("SP1").to_double(), data.at("PID_CV1").to_double(),
                              data.at("PID_MV1").to_double()));
}

std::size_t wrap_index(std::int64_t count, std::size_t n) {
  const auto len = static_cast<std::int64_t>(n);
  const std::int64_t r = count % len;
  return static_cast<std::size_t>(r < 0 ? r + len : r);
}

}  // namespace varnok::frame
