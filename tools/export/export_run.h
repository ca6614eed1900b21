#pragma once

// varnok-export's one job against the database: the chosen tags of a group
// over a time range, streamed into CSV.

#include <ostream>
#include <string>
#include <vector>

#include "csv_table.h"
#include "time_text.h"
#include "tsdbpy/conn.h"

namespace varnok::exporting {

struct Request {
  std::string group;
  std::vector<std::string> tags;  // none: every recorded tag of the group
  TimePoint from{};               // from <= ts < to
  TimePoint to{};
  Shape shape = Shape::kWide;
};

// Writes the CSV of `request` to `out` while the values arrive, a batch at a
// time. Throws UsageError for a group or tag that was never recorded (before
// anything is written), tsdbpy::Error when the database fails.
void write_export(tsdbpy::conn::Connection& conn, const Request& request, std::ostream& out);

}  // namespace varnok::exporting
