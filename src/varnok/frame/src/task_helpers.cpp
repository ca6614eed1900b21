#include "varnok/frame/task_helpers.h"

namespace varnok::frame {

corvex::Value noise_level(const corvex::ValueMap& data, std::string_view switch_tag) {
  const corvex::Value& level = data.at(switch_tag);
  return level.to_double() > 0.0 ? level : corvex::Value(0);
}

bool random_dv_on(const corvex::ValueMap& data, std::string_view switch_tag) {
  return data.at(switch_tag).to_double() > 0.5;
}

std::size_t wrap_index(std::int64_t count, std::size_t n) {
  const auto len = static_cast<std::int64_t>(n);
  const std::int64_t r = count % len;
  return static_cast<std::size_t>(r < 0 ? r + len : r);
}

}  // namespace varnok::frame
