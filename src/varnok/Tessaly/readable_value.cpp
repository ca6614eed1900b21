#include "readable_value.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>

namespace varnok::tessaly {

namespace {

// Digits of the mantissa without leading zeros: 0.000123 has 3, 31.0 has 3.
int significant_digits(std::string_view text) {
  const std::size_t exponent = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, exponent);
  int digits = 0;
  bool leading = true;
  for (const char c : mantissa) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) continue;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
  }
  return digits;
}

}  // namespace

std::string readable_value_text(std::string_view full_text) {
  // Only what value_text writes for a double: integers stay whole.
  if (full_text.find_first_of(".eE") == std::string_view::npos) return std::string(full_text);
  double value = 0;
  const auto [end, error] = std::from_chars(full_text.data(), full_text.data() + full_text.size(), value);
  if (error != std::errc{} || end != full_text.data() + full_text.size()) return std::string(full_text);
  if (significant_digits(full_text) <= kReadableDigits) return std::string(full_text);
  char buffer[32];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, kReadableDigits);
  return std::string(buffer, written.ptr);
}

}  // namespace varnok::tessaly
