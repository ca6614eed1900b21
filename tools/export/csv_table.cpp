#include "csv_table.h"

#include "varnok/csv_text.h"

namespace varnok::exporting {

CsvTable::CsvTable(std::ostream& out, std::vector<std::string> columns, Shape shape)
    : out_(out), shape_(shape), held_(columns.size()) {
  for (auto& column : columns) columns_.push_back(csv::field(column));
  if (shape_ == Shape::kLong) {
    out_ << "time,tag,value\n";
    return;
  }
  out_ << "time";
  for (const auto& column : columns_) out_ << ',' << column;
  out_ << '\n';
}

void CsvTable::add(TimePoint ts, std::size_t column, double value) {
  // A second value of one tag at the same time stamp starts a line of its
  // own rather than hiding the first.
  if (ts_ && (*ts_ != ts || held_[column])) write_held();
  ts_ = ts;
  held_[column] = value;
}

void CsvTable::finish() {
  if (ts_) write_held();
}

void CsvTable::write_held() {
  const std::string time = time_text(*ts_);
  if (shape_ == Shape::kWide) {
    out_ << time;
    for (const auto& value : held_) {
      out_ << ',';
      if (value) out_ << csv::number(*value);
    }
    out_ << '\n';
  } else {
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (held_[i]) out_ << time << ',' << columns_[i] << ',' << csv::number(*held_[i]) << '\n';
    }
  }
  for (auto& value : held_) value.reset();
  ts_.reset();
}

}  // namespace varnok::exporting
