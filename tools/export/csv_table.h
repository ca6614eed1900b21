#pragma once

// varnok-export's CSV: values arrive ordered by time (as the database scan
// hands them over) and leave as one line per time stamp (wide) or one line
// per value (long), in the order of the columns.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "time_text.h"

namespace varnok::exporting {

enum class Shape {
  kWide,  // time,A,B,...: one line per poll, an empty cell where a tag has no value
  kLong,  // time,tag,value
};

class CsvTable {
 public:
  // Writes the header line at once.
  CsvTable(std::ostream& out, std::vector<std::string> columns, Shape shape);

  // A value of columns[column] at `ts`; times must not decrease.
  void add(TimePoint ts, std::size_t column, double value);
  // Writes what is still held (the last time stamp's values).
  void finish();

 private:
  void write_held();

  std::ostream& out_;
  std::vector<std::string> columns_;  // as CSV fields
  Shape shape_;
  std::optional<TimePoint> ts_;  // of the values held
  std::vector<std::optional<double>> held_;
};

}  // namespace varnok::exporting
