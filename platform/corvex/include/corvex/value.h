#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "corvex/ordered_map.h"

namespace corvex {

// A tag value: an integer or a double. The kind is kept because clients see
// it (29 and 29.0 are shown differently), but arithmetic and comparisons are
// done on the double.
class Value {
 public:
  constexpr Value() : v_(0.0) {}
  constexpr Value(int v) : v_(static_cast<std::int64_t>(v)) {}  // NOLINT(google-explicit-constructor)
  constexpr Value(std::int64_t v) : v_(v) {}                    // NOLINT(google-explicit-constructor)
  constexpr Value(double v) : v_(v) {}                          // NOLINT(google-explicit-constructor)

  constexpr bool is_integer() const noexcept { return std::holds_alternative<std::int64_t>(v_); }
  constexpr double to_double() const noexcept {
    return is_integer() ? static_cast<double>(std::get<std::int64_t>(v_)) : std::get<double>(v_);
  }
  constexpr std::int64_t integer() const { return std::get<std::int64_t>(v_); }

  // Exact equality of kind and bits (NaN equals NaN of the same payload):
  // used to tell whether a value changed.
  bool same_as(const Value& other) const noexcept;

  // Numeric equality: 29 == 29.0, and NaN equals nothing.
  friend constexpr bool operator==(const Value& a, const Value& b) { return a.to_double() == b.to_double(); }

 private:
  std::variant<std::int64_t, double> v_;
};

// Shortest text that reads back as the same number: integers plain ("29"),
// doubles with a decimal point or exponent ("29.0", "0.1", "1e-07", "nan",
// "-inf"). Doubles switch to exponent form when the decimal exponent is below
// -4 or at least 16 ("0.0001", "1e-05", "1e+16").
std::string to_text(const Value& value);
std::string to_text(double value);

// The same without a string of its own, for output of many values:
// write_text writes into `out` (room for kMaxNumberText characters) and
// returns the end; append_text appends to `out`.
inline constexpr std::size_t kMaxNumberText = 40;
char* write_text(double value, char* out);
void append_text(std::string& out, const Value& value);

// Tag name -> value, in insertion order.
using ValueMap = OrderedMap<Value>;

}  // namespace corvex
