#include "corvex/value.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace corvex {

bool Value::same_as(const Value& other) const noexcept {
  if (is_integer() != other.is_integer()) return false;
  if (is_integer()) return integer() == other.integer();
  return std::bit_cast<std::uint64_t>(std::get<double>(v_)) ==
         std::bit_cast<std::uint64_t>(std::get<double>(other.v_));
}

std::string to_text(const Value& value) {
  return value.is_integer() ? std::to_string(value.integer()) : to_text(value.to_double());
}

std::string to_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";

  // Shortest round-trip digits, read off the scientific form "d.ddde±x".
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (ec != std::errc()) return "nan";  // cannot happen with 64 bytes
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());

  std::string out;
  if (!mantissa.empty() && mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;

  if (exponent < -4 || exponent >= 16) {
    out += digits.front();
    if (digits.size() > 1) out.append(".").append(digits, 1);
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
    return out;
  }
  if (exponent < 0) {
    out.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0').append(digits);
    return out;
  }
  const auto int_digits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_digits) {
    out.append(digits).append(int_digits - digits.size(), '0').append(".0");
  } else {
    out.append(digits, 0, int_digits).append(".").append(digits, int_digits);
  }
  return out;
}

}  // namespace corvex
