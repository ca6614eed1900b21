#pragma once

// How recorded values are written as CSV, wherever they leave varnok
// (varnok-export, the viewer's trend export), so that files from either read
// the same way.

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

namespace varnok::csv {

// UTC with 'Z': 2026-12-09T21:45:03.120Z, milliseconds when the time is a
// whole millisecond, else six digits (2026-12-09T21:45:03.120456Z), so that
// two stored time stamps (microseconds) never show as one. Finer parts are
// cut.
inline std::string time_text(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto us = floor<microseconds>(t);
  const auto date_days = floor<days>(us);
  const year_month_day date{date_days};
  const hh_mm_ss<microseconds> time{us - date_days};
  const auto sub = time.subseconds().count();
  char buffer[64];
  const bool whole_ms = sub % 1000 == 0;
  const int n =
      std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%0*dZ",
                    static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                    static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                    static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                    whole_ms ? 3 : 6, static_cast<int>(whole_ms ? sub / 1000 : sub));
  return std::string(buffer, static_cast<std::size_t>(n));
}

// The shortest text that reads back as the same double; nan, inf, -inf.
inline std::string number(double value) {
  if (std::isnan(value)) return "nan";  // no sign: to_chars would give "-nan"
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

// `text` as one field: quoted when it holds a comma, a quote or a line break.
inline std::string field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace varnok::csv
