#pragma once

// Times as varnok-export reads them from its command line and writes them
// into its output.

#include <chrono>
#include <string>
#include <string_view>

#include "varnok/csv_text.h"

namespace varnok::exporting {

using varnok::csv::time_text;

using TimePoint = std::chrono::system_clock::time_point;

// A --from/--to value: ISO 8601 (2026-12-09, 2026-12-09T21:45,
// 2026-12-09T21:45:03.120, 'T' or a blank between date and time), with a
// zone (Z, +01:00, -0230, +01) or without one, which is the local time of
// the system's time zone (TZ), years 1700..2200; or a time up to a century
// before `now`: -30s, -10min, -2h, -1d, -1.5h; or "now". Throws UsageError
// naming `what` and the text.
TimePoint parse_time(std::string_view text, TimePoint now, std::string_view what);

}  // namespace varnok::exporting
