#pragma once

// The viewer's text form of a value, and a polled value as a double for
// recording.

#include <optional>
#include <string>
#include <string_view>

#include "hublet/hublet.h"

namespace varnok::tessaly {

// Integers in decimal digits, doubles as the shortest text that reads back
// the same (29.0, 0.1, 1e-05, 1e+16), truth values True/False, text as it
// is; "-" for a node the server gave no value for.
std::string value_text(const hublet::ValueRecord& record);
// The same into `out`, whose storage is reused.
void assign_value_text(const hublet::ValueRecord& record, std::string& out);

// The value as a double for recording: numbers unchanged, truth values as 1
// or 0, text read as a number typed by a user (varnok/number_text.h); none
// when there is no number.
std::optional<double> value_as_double(const hublet::ValueRecord& record);

}  // namespace varnok::tessaly
