#include "csv_table.h"

#include <charconv>
#include <cmath>

namespace varnok::exporting {

std::string value_text(double value) {
  if (std::isnan(value)) return "nan";  // no sign: to_chars would give "-nan"
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

CsvTable::CsvTable(std::ostream& out, std::vector<std::string> columns, Shape shape)
    : out_(out), shape_(shape), held_(columns.size()) {
  for (auto& column : columns) columns_.push_back(csv_field(column));
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
      if (value) out_ << value_text(*value);
    }
    out_ << '\n';
  } else {
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (held_[i]) out_ << time << ',' << columns_[i] << ',' << value_text(*held_[i]) << '\n';
    }
  }
  for (auto& value : held_) value.reset();
  ts_.reset();
}

}  // namespace varnok::exporting
