#pragma once

// The viewer's text form of a value, and the conversion of typed text to a
// double for writing and recording.

#include <optional>
#include <string>
#include <string_view>

#include "hublet/hublet.h"

namespace varnok::tessaly {

// Integers in decimal digits, doubles as the shortest text that reads back
// the same (29.0, 0.1, 1e-05, 1e+16), truth values True/False, text as it
// is; "-" for a node the server gave no value for.
std::string value_text(const hublet::ValueRecord& record);

// A decimal floating-point literal with optional blanks around it, exponent
// forms, inf/infinity and nan in any case, with an optional sign. Anything
// else (empty, trailing garbage, hexadecimal) gives none.
std::optional<double> parse_double(std::string_view text);

// The value as a double for recording: numbers unchanged, truth values as 1
// or 0, text parsed as above; none when there is no number.
std::optional<double> value_as_double(const hublet::ValueRecord& record);

}  // namespace varnok::tessaly
