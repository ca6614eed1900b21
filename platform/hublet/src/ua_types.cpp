#include "ua_types.h"

#include <chrono>

namespace hublet::ua {

namespace {

// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000;

}  // namespace

DateTime now_utc() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
  return DateTime{ticks + kUnixEpochTicks};
}

}  // namespace hublet::ua
