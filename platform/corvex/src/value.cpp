#include "corvex/value.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace corvex {

bool Value::same_as(const Value& other) const noexcept {
  if (is_integer() != other.is_integer()) return false;
  if (is_integer()) return integer() == other.integer();
  return std::bit_cast<std::uint64_t>(std::get<double>(v_)) ==
         std::bit_cast<std::uint64_t>(std::get<double>(other.v_));
}

std::string to_text(const Value& value) {
  std::string out;
  append_text(out, value);
  return out;
}

std::string to_text(double value) {
  char buf[kMaxNumberText];
  return std::string(buf, write_text(value, buf));
}

void append_text(std::string& out, const Value& value) {
  char buf[kMaxNumberText];
  char* end = buf;
  if (value.is_integer()) {
    end = std::to_chars(buf, buf + sizeof buf, value.integer()).ptr;
  } else {
    end = write_text(value.to_double(), buf);
  }
  out.append(buf, end);
}

namespace {

char* copy(std::string_view text, char* out) {
  for (const char c : text) *out++ = c;
  return out;
}

}  // namespace

char* write_text(double value, char* out) {
  if (std::isnan(value)) return copy("nan", out);
  if (std::isinf(value)) return copy(value > 0 ? "inf" : "-inf", out);

  // Shortest round-trip digits, read off the scientific form "-d.ddde-xx".
  char sci[kMaxNumberText];
  const char* const end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  const char* p = sci;
  if (*p == '-') *out++ = *p++;
  char digits[kMaxNumberText];
  std::size_t n = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  ++p;  // its sign
  int exponent = 0;
  for (; p < end; ++p) exponent = exponent * 10 + (*p - '0');
  if (negative_exponent) exponent = -exponent;

  if (exponent < -4 || exponent >= 16) {
    *out++ = digits[0];
    if (n > 1) {
      *out++ = '.';
      out = copy(std::string_view(digits + 1, n - 1), out);
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) *out++ = '0';
    return std::to_chars(out, out + 4, magnitude).ptr;
  }
  if (exponent < 0) {
    out = copy("0.", out);
    for (int i = -exponent - 1; i > 0; --i) *out++ = '0';
    return copy(std::string_view(digits, n), out);
  }
  const auto int_digits = static_cast<std::size_t>(exponent) + 1;
  if (n <= int_digits) {
    out = copy(std::string_view(digits, n), out);
    for (std::size_t i = n; i < int_digits; ++i) *out++ = '0';
    return copy(".0", out);
  }
  out = copy(std::string_view(digits, int_digits), out);
  *out++ = '.';
  return copy(std::string_view(digits + int_digits, n - int_digits), out);
}

}  // namespace corvex
