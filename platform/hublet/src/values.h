#pragma once

// Values between hublet's callers and OPC UA variants: what a read gives
// (ValueRecord) and what a write sends (an exact conversion to the node's
// built-in type).

#include <string>

#include "hublet/hublet.h"
#include "ua_types.h"

namespace hublet {

// The record of one read result; the value is kept whatever the status.
ValueRecord to_record(const ua::DataValue& dv);

// `value` as a scalar of built-in type `type`, exactly, or the reason why
// not: VALUE_DOES_NOT_FIT (a fraction, out of range, the wrong kind of
// value), UNSUPPORTED (a type hublet does not write).
HUBLET_STATUS to_variant(const ExactValue& value, int type, ua::Variant& out);

// For log lines and messages: digits, the shortest double, true/false, the
// text in quotes.
std::string exact_value_text(const ExactValue& value);

}  // namespace hublet
