#include "value_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "corvex/value.h"

namespace varnok::tessaly {

namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string value_text(const hublet::ValueRecord& record) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "-"; }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return corvex::to_text(v); }
    std::string operator()(const std::string& v) const { return v; }
  };
  return std::visit(Visitor{}, record.value);
}

std::optional<double> parse_double(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  double sign = 1.0;
  std::string_view body = text;
  if (body.front() == '+' || body.front() == '-') {
    if (body.front() == '-') sign = -1.0;
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  // from_chars takes no leading '+' and, in general format, no hex.
  if (body.empty() || !(std::isdigit(static_cast<unsigned char>(body.front())) || body.front() == '.')) {
    return std::nullopt;
  }
  double value = 0.0;
  const char* end = body.data() + body.size();
  const auto [ptr, ec] = std::from_chars(body.data(), end, value, std::chars_format::general);
  if (ptr != end) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Overflow reads as infinity, underflow as zero, as a float literal does.
    const std::size_t e = body.find_first_of("eE");
    const bool underflow = e != std::string_view::npos && e + 1 < body.size() && body[e + 1] == '-';
    return underflow ? sign * 0.0 : sign * std::numeric_limits<double>::infinity();
  }
  if (ec != std::errc()) return std::nullopt;
  return sign * value;
}

std::optional<double> value_as_double(const hublet::ValueRecord& record) {
  struct Visitor {
    std::optional<double> operator()(std::monostate) const { return std::nullopt; }
    std::optional<double> operator()(bool v) const { return v ? 1.0 : 0.0; }
    std::optional<double> operator()(std::int64_t v) const { return static_cast<double>(v); }
    std::optional<double> operator()(double v) const { return v; }
    std::optional<double> operator()(const std::string& v) const { return parse_double(v); }
  };
  return std::visit(Visitor{}, record.value);
}

}  // namespace varnok::tessaly
