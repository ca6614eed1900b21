#pragma once

// Recorded values: (tag, time stamp, double).

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "tsdbpy/conn.h"
#include "tsdbpy/error.h"

namespace tsdbpy::tsdata {

using TimePoint = std::chrono::system_clock::time_point;

struct Sample {
  TimePoint ts{};  // microsecond resolution, as the server keeps it
  double value{};
};

// Stores values[i] for tag_ids[i], all in one statement and one round trip,
// time-stamped by the server (every value of one call gets the same time
// stamp). Doubles are stored bit for bit, NaN and infinities included.
// All or nothing: ok is false and nothing is stored when the lengths differ
// (then the database is not contacted), a tag id is unknown (the error names it), the connection
// is closed or lost, or the database fails. An empty batch is ok and sends
// nothing.
Result write_tsdata(conn::Connection& conn, std::span<const int> tag_ids, std::span<const double> values);

// Stores values[i] for tag_ids[i] at ts[i] (the time the caller took the
// value, kept to the microsecond, rounded up), all in one statement and one
// round trip, so that a backlog of many polls goes in few calls. A (tag, ts)
// pair that is stored already is skipped rather than stored twice: a batch
// sent again after its answer was lost leaves one copy. Otherwise like the
// call above: all or nothing, ok false when the lengths differ (nothing is
// sent), a tag id is unknown, the connection is closed, lost or interrupted,
// or the database fails; an empty batch is ok and sends nothing.
Result write_tsdata(conn::Connection& conn, std::span<const TimePoint> ts, std::span<const int> tag_ids,
                    std::span<const double> values);

// What upkeep_partitions did.
struct Upkeep {
  int created = 0;  // day partitions made
  int dropped = 0;  // day partitions dropped
};

// Bound of days_ahead and keep_days: a hundred years.
inline constexpr int kMaxDays = 36525;

// tsdata keeps one partition per UTC day; values of a day without one wait
// in a default partition. Writers call this when they connect and then at
// least daily: it makes the partitions of the day of `now` and of the
// `days_ahead` days after it (moving waiting values in), and, with
// keep_days, drops every day partition that ends keep_days days or more
// before the day of `now` begins (keep_days 1 keeps yesterday and today)
// and deletes values as old from the default partition. Safe to call from
// several connections at once. Throws tsdbpy::Error when a day count is out
// of 0..kMaxDays (keep_days: 1..kMaxDays) or the database fails.
Upkeep upkeep_partitions(conn::Connection& conn, TimePoint now, std::optional<int> keep_days,
                         int days_ahead = 2);

// The values of one tag with from <= ts < to, oldest first. Throws
// tsdbpy::Error when the query fails or the connection is closed.
std::vector<Sample> read_tsdata(conn::Connection& conn, int tag_id, TimePoint from, TimePoint to);

// One recorded value of scan_tsdata.
struct Row {
  int tag_id{};
  TimePoint ts{};
  double value{};
};

// The values of `tag_ids` with from <= ts < to, ordered by ts and then by
// tag_id, handed to `take` in batches of at most `batch_rows` (1..100000)
// through a server-side cursor, so that a long range never sits in memory as
// a whole. Each batch is one round trip bounded like any call; the scan runs
// in one transaction, so it sees one snapshot. Do not use `conn` inside
// `take`. Throws tsdbpy::Error when the query fails or the connection is
// closed or lost (batches handed over before stay handed over); an exception
// from `take` ends the scan and is passed on, leaving the connection usable.
void scan_tsdata(conn::Connection& conn, std::span<const int> tag_ids, TimePoint from, TimePoint to,
                 const std::function<void(std::span<const Row>)>& take, int batch_rows = 10000);

}  // namespace tsdbpy::tsdata
