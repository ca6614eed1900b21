#include "time_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "varnok/errors.h"
#include "varnok/number_text.h"

namespace varnok::exporting {

namespace {

using namespace std::chrono;

// The clock counts nanoseconds in 64 bits: 1678..2262. Dates and distances
// stay well inside, so that no arithmetic on them overflows.
constexpr int kFirstYear = 1700;
constexpr int kLastYear = 2200;
constexpr double kYearsBack = 100;

// Reads fixed-width fields left to right; any mismatch is a failure.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool done() const { return at_ == text_.size(); }
  char peek() const { return done() ? '\0' : text_[at_]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++at_;
    return true;
  }
  std::optional<int> digits(std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(peek()))) return std::nullopt;
      value = value * 10 + (text_[at_++] - '0');
    }
    return value;
  }
  // Up to nine digits after a point, as nanoseconds.
  std::optional<nanoseconds> fraction() {
    std::int64_t ns = 0;
    std::size_t count = 0;
    while (std::isdigit(static_cast<unsigned char>(peek()))) {
      if (++count > 9) return std::nullopt;
      ns = ns * 10 + (text_[at_++] - '0');
    }
    if (count == 0) return std::nullopt;
    for (; count < 9; ++count) ns *= 10;
    return nanoseconds(ns);
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// -30s, -10min, -2h, -1d, -1.5h: how far before now.
std::optional<system_clock::duration> relative(std::string_view text) {
  if (text.size() < 3 || text.front() != '-') return std::nullopt;
  text.remove_prefix(1);
  std::size_t unit_at = 0;
  while (unit_at < text.size() &&
         (std::isdigit(static_cast<unsigned char>(text[unit_at])) || text[unit_at] == '.'))
    ++unit_at;
  const std::string_view unit = text.substr(unit_at);
  double seconds_per_unit = 0;
  if (unit == "s") {
    seconds_per_unit = 1;
  } else if (unit == "min") {
    seconds_per_unit = 60;
  } else if (unit == "h") {
    seconds_per_unit = 3600;
  } else if (unit == "d") {
    seconds_per_unit = 86400;
  } else {
    return std::nullopt;
  }
  const auto count = unit_at == 0 ? std::nullopt : parse_number(text.substr(0, unit_at));
  // A century back keeps well within the clock's range (1678..2262).
  if (!count || !(*count * seconds_per_unit <= kYearsBack * 366 * 86400.0)) return std::nullopt;
  return duration_cast<system_clock::duration>(duration<double>(*count * seconds_per_unit));
}

// The UTC offset of a zone suffix: Z, +01:00, +0100, +01.
std::optional<minutes> zone_offset(Reader& in) {
  if (in.take('Z') || in.take('z')) return minutes(0);
  const int sign = in.take('+') ? 1 : in.take('-') ? -1 : 0;
  if (sign == 0) return std::nullopt;
  const auto h = in.digits(2);
  if (!h || *h > 23) return std::nullopt;
  int m = 0;
  if (!in.done()) {
    in.take(':');
    const auto mm = in.digits(2);
    if (!mm || *mm > 59) return std::nullopt;
    m = *mm;
  }
  return minutes(sign * (*h * 60 + m));
}

// The local civil time as the system's time zone has it.
std::optional<TimePoint> from_local(const year_month_day& date, const hh_mm_ss<nanoseconds>& time) {
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_hour = static_cast<int>(time.hours().count());
  tm.tm_min = static_cast<int>(time.minutes().count());
  tm.tm_sec = static_cast<int>(time.seconds().count());
  tm.tm_isdst = -1;  // the zone decides whether summer time applies
  const std::time_t seconds_since_epoch = std::mktime(&tm);
  if (seconds_since_epoch == static_cast<std::time_t>(-1)) return std::nullopt;
  return system_clock::from_time_t(seconds_since_epoch) +
         duration_cast<system_clock::duration>(time.subseconds());
}

std::optional<TimePoint> iso(std::string_view text) {
  Reader in(text);
  const auto y = in.digits(4);
  if (!y || !in.take('-')) return std::nullopt;
  const auto mo = in.digits(2);
  if (!mo || !in.take('-')) return std::nullopt;
  const auto d = in.digits(2);
  if (!d) return std::nullopt;
  const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)), day(static_cast<unsigned>(*d))};
  if (!date.ok() || *y < kFirstYear || *y > kLastYear) return std::nullopt;
  nanoseconds time_of_day{0};
  std::optional<minutes> offset;
  if (!in.done()) {
    if (!(in.take('T') || in.take('t') || in.take(' '))) return std::nullopt;
    const auto h = in.digits(2);
    if (!h || *h > 23 || !in.take(':')) return std::nullopt;
    const auto mi = in.digits(2);
    if (!mi || *mi > 59) return std::nullopt;
    time_of_day = hours(*h) + minutes(*mi);
    if (in.take(':')) {
      const auto s = in.digits(2);
      if (!s || *s > 59) return std::nullopt;
      time_of_day += seconds(*s);
      if (in.take('.') || in.take(',')) {
        const auto fraction = in.fraction();
        if (!fraction) return std::nullopt;
        time_of_day += *fraction;
      }
    }
    if (!in.done()) {
      offset = zone_offset(in);
      if (!offset || !in.done()) return std::nullopt;
    }
  }
  if (!offset) return from_local(date, hh_mm_ss<nanoseconds>(time_of_day));
  return TimePoint(
      duration_cast<system_clock::duration>(sys_days(date).time_since_epoch() + time_of_day - *offset));
}

}  // namespace

TimePoint parse_time(std::string_view text, TimePoint now, std::string_view what) {
  if (text == "now") return now;
  if (const auto back = relative(text)) return now - *back;
  if (const auto t = iso(text)) return *t;
  throw UsageError(std::string(what) + ": \"" + std::string(text) +
                   "\" is not a time (expected ISO 8601 such as 2026-12-09, 2026-12-09T21:45:03 or "
                   "2026-12-09T21:45:03.120Z, or a time before now such as -30s, -10min, -2h, -1d)");
}
}  // namespace varnok::exporting
