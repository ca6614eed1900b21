#pragma once

// The table's short form of a value's text: readable at a glance and narrow
// enough for the value column, while the full text stays for hover and copy.

#include <string>
#include <string_view>

namespace varnok::tessaly {

// Significant digits a shortened number keeps.
inline constexpr int kReadableDigits = 6;

// A decimal fraction or exponent form (value_text's doubles) with more than
// kReadableDigits significant digits, rounded to that many (31.124578818168377
// gives 31.1246, 123456789.5 gives 1.23457e+08); anything else as it is
// (integers, 31.0, True, text, dates).
std::string readable_value_text(std::string_view full_text);

}  // namespace varnok::tessaly
