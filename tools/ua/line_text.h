#pragma once

// varnok-ua's text: one node per line, fields separated by tabs. Text that
// could break a line or a field is escaped, and the same escapes are read
// back from the command line:
//
//   \\  a backslash      \t  tab      \n  line feed      \r  carriage return
//   \xHH  any other byte below 0x20, and 0x7F (two hexadecimal digits)
//
// Every other byte, UTF-8 included, stands as it is.

#include <optional>
#include <string>
#include <string_view>

#include "hublet/hublet.h"

namespace varnok::ua {

std::string escape(std::string_view text);

// The inverse of escape(); any backslash not starting one of the escapes
// above is refused, with `error` saying which.
std::optional<std::string> unescape(std::string_view text, std::string& error);

// The text form of a value: True/False, integers in decimal digits, doubles
// as the shortest text that reads back the same (29.0, 0.1, 1e-05), DateTime
// in ISO 8601 UTC, text escaped. None when the record holds no value.
std::optional<std::string> value_text(const hublet::ValueRecord& record);

// Why a record has no value text: "no value", "an array of 3 Double, which
// varnok-ua does not show", ...
std::string missing_value_reason(const hublet::ValueRecord& record);

// A VALUE typed by the user (after unescaping): True/true/False/false, a
// whole decimal number (exact, up to 64 bits), any other decimal number, or
// else the text itself.
hublet::ExactValue value_from_text(const std::string& text);

}  // namespace varnok::ua
