#pragma once

// Numbers typed by users (command lines, the viewer's dialog, values given
// as text): decimal only, so that "0x10" or "1,5" is refused rather than
// read as something the user did not mean.

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "varnok/errors.h"

namespace varnok {

namespace number_text_detail {

inline std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace number_text_detail

// A decimal floating-point literal with optional blanks around it and an
// optional sign: 12.5, -3e2, +4, .5, inf, infinity, nan (any case).
// Overflow reads as infinity and underflow as zero, as a float literal does.
// Anything else (empty, trailing text, hexadecimal, a decimal comma): none.
inline std::optional<double> parse_number(std::string_view text) {
  using namespace number_text_detail;
  text = trim(text);
  if (text.empty()) return std::nullopt;
  double sign = 1.0;
  if (text.front() == '+' || text.front() == '-') {
    if (text.front() == '-') sign = -1.0;
    text.remove_prefix(1);
  }
  if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity"))
    return sign * std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(text, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  // from_chars in general format reads no hexadecimal, but it does take
  // "inf" after a second sign; only digits or a point may start the body.
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.'))
    return std::nullopt;
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ptr != end) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    const std::size_t e = text.find_first_of("eE");
    const bool underflow = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
    return underflow ? sign * 0.0 : sign * std::numeric_limits<double>::infinity();
  }
  if (ec != std::errc()) return std::nullopt;
  return sign * value;
}

// Decimal digits with an optional sign and blanks around them, within the
// range of int64; none otherwise.
inline std::optional<std::int64_t> parse_whole_number(std::string_view text) {
  text = number_text_detail::trim(text);
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || (plus && text.front() == '-')) return std::nullopt;
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Decimal digits with an optional '+' and blanks around them, within the
// range of uint64 (up to 18446744073709551615); none otherwise, and for any
// negative number.
inline std::optional<std::uint64_t> parse_unsigned_whole_number(std::string_view text) {
  text = number_text_detail::trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// The same, for a value the user gave as `what` (e.g. "--set MV1"): a
// UsageError saying what came and what was expected.
inline double number_or_throw(std::string_view text, std::string_view what) {
  if (const auto value = parse_number(text)) return *value;
  throw UsageError(std::string(what) + ": \"" + std::string(text) +
                   "\" is not a number (expected a decimal number such as 12.5, -3e2, inf or nan)");
}

inline std::int64_t whole_number_or_throw(std::string_view text, std::string_view what) {
  if (const auto value = parse_whole_number(text)) return *value;
  throw UsageError(std::string(what) + ": \"" + std::string(text) + "\" is not a whole decimal number");
}

}  // namespace varnok
