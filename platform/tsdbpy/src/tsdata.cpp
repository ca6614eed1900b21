#include "tsdbpy/tsdata.h"

#include <charconv>
#include <optional>
#include <string>

#include "pq.h"

namespace tsdbpy::tsdata {

namespace {

// Why nothing can be stored on `conn`; none when it is open.
std::optional<Result> closed(const conn::Connection& conn) {
  if (conn) return std::nullopt;
  return Result{false,
                conn.broken() ? "the database connection was lost" : "the database connection is closed"};
}

}  // namespace

Result write_tsdata(conn::Connection& conn, std::span<const int> tag_ids, std::span<const double> values) {
  // One statement whatever the batch size: the arrays travel in binary form
  // and are unpacked by the server.
  static constexpr const char* kSql =
      "WITH checked AS MATERIALIZED (SELECT tsdata_check_tags($1) AS ok)"
      " INSERT INTO tsdata (tag_id, ts, value)"
      " SELECT u.tag_id, now(), u.value FROM checked, unnest($1::int4[], $2::float8[]) AS u (tag_id, value)"
      " WHERE checked.ok";
  if (tag_ids.size() != values.size()) {
    return Result{false, "write_tsdata needs one value per tag id, got " + std::to_string(tag_ids.size()) +
                             " tag ids and " + std::to_string(values.size()) + " values"};
  }
  try {
    if (auto refused = closed(conn)) return *refused;
    if (tag_ids.empty()) return Result{true, {}};
    detail::Params params;
    params.int4_array(tag_ids);
    params.float8_array(values);
    const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn));
    const char* rows = PQcmdTuples(res.get());
    std::size_t stored = 0;
    std::from_chars(rows, rows + std::char_traits<char>::length(rows), stored);
    if (stored != tag_ids.size()) {
      return Result{false, "the server stored " + std::to_string(stored) + " of " +
                               std::to_string(tag_ids.size()) + " values"};
    }
    return Result{true, {}};
  } catch (const Error& e) {
    return detail::failed(e);
  }
}

Result write_tsdata(conn::Connection& conn, std::span<const TimePoint> ts, std::span<const int> tag_ids,
                    std::span<const double> values) {
  // The pair (tag_id, ts) is looked up in tsdata_tag_ts_idx, so skipping what
  // is there already costs one index probe per value.
  static constexpr const char* kSql =
      "WITH checked AS MATERIALIZED (SELECT tsdata_check_tags($2) AS ok)"
      " INSERT INTO tsdata (tag_id, ts, value)"
      " SELECT u.tag_id, u.ts, u.value FROM checked, unnest($1::timestamptz[], $2::int4[], $3::float8[])"
      " AS u (ts, tag_id, value)"
      " WHERE checked.ok AND NOT EXISTS (SELECT 1 FROM tsdata d WHERE d.tag_id = u.tag_id AND d.ts = u.ts)";
  if (ts.size() != tag_ids.size() || tag_ids.size() != values.size()) {
    return Result{false, "write_tsdata needs one time stamp and one value per tag id, got " +
                             std::to_string(ts.size()) + " time stamps, " + std::to_string(tag_ids.size()) +
                             " tag ids and " + std::to_string(values.size()) + " values"};
  }
  try {
    if (auto refused = closed(conn)) return *refused;
    if (tag_ids.empty()) return Result{true, {}};
    detail::Params params;
    params.timestamptz_array(ts);
    params.int4_array(tag_ids);
    params.float8_array(values);
    detail::exec(conn, kSql, params, detail::call_deadline(conn));
    return Result{true, {}};
  } catch (const Error& e) {
    return detail::failed(e);
  }
}

Upkeep upkeep_partitions(conn::Connection& conn, TimePoint now, std::optional<int> keep_days,
                         int days_ahead) {
  static constexpr const char* kSql = "SELECT created, dropped FROM tsdata_upkeep($1, $2, $3)";
  if (days_ahead < 0 || days_ahead > kMaxDays) {
    throw Error("upkeep_partitions: days_ahead must be 0.." + std::to_string(kMaxDays) + ", got " +
                std::to_string(days_ahead));
  }
  if (keep_days && (*keep_days < 1 || *keep_days > kMaxDays)) {
    throw Error("upkeep_partitions: keep_days must be 1.." + std::to_string(kMaxDays) + ", got " +
                std::to_string(*keep_days));
  }
  detail::Params params;
  params.timestamptz(now);
  params.int4(days_ahead);
  params.int4(keep_days);
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  return Upkeep{detail::get_int4(res.get(), 0, 0), detail::get_int4(res.get(), 0, 1)};
}

std::vector<Sample> read_tsdata(conn::Connection& conn, int tag_id, TimePoint from, TimePoint to) {
  static constexpr const char* kSql =
      "SELECT ts, value FROM tsdata WHERE tag_id = $1 AND ts >= $2 AND ts < $3 ORDER BY ts";
  detail::Params params;
  params.int4(tag_id);
  params.timestamptz(from);
  params.timestamptz(to);
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  std::vector<Sample> out;
  const int rows = PQntuples(res.get());
  out.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    out.push_back(Sample{detail::get_timestamptz(res.get(), row, 0), detail::get_float8(res.get(), row, 1)});
  }
  return out;
}

void scan_tsdata(conn::Connection& conn, std::span<const int> tag_ids, TimePoint from, TimePoint to,
                 const std::function<void(std::span<const Row>)>& take, int batch_rows) {
  // A cursor keeps the client's memory to one batch; the server sorts.
  static constexpr const char* kDeclare =
      "DECLARE tsdbpy_scan NO SCROLL CURSOR FOR SELECT tag_id, ts, value FROM tsdata"
      " WHERE tag_id = ANY ($1::int4[]) AND ts >= $2 AND ts < $3 ORDER BY ts, tag_id";
  if (batch_rows < 1 || batch_rows > 100000) {
    throw Error("scan_tsdata: batch_rows must be 1..100000, got " + std::to_string(batch_rows));
  }
  // The count is our own number: FETCH takes no parameter for it.
  const std::string fetch = "FETCH FORWARD " + std::to_string(batch_rows) + " FROM tsdbpy_scan";
  detail::Params params;
  params.int4_array(tag_ids);
  params.timestamptz(from);
  params.timestamptz(to);
  detail::exec_script(conn, "BEGIN", detail::call_deadline(conn));
  try {
    detail::exec(conn, kDeclare, params, detail::call_deadline(conn));
    std::vector<Row> batch;
    for (;;) {
      const auto res = detail::exec(conn, fetch.c_str(), {}, detail::call_deadline(conn), true);
      const int rows = PQntuples(res.get());
      batch.clear();
      for (int row = 0; row < rows; ++row) {
        batch.push_back(Row{detail::get_int4(res.get(), row, 0), detail::get_timestamptz(res.get(), row, 1),
                            detail::get_float8(res.get(), row, 2)});
      }
      if (!batch.empty()) take(batch);
      if (rows < batch_rows) break;
    }
    detail::exec_script(conn, "COMMIT", detail::call_deadline(conn));
  } catch (...) {
    if (conn) {
      try {
        detail::exec_script(conn, "ROLLBACK", detail::call_deadline(conn));
      } catch (const Error&) {
        detail::Access::abandon(conn);  // state unknown: not for reuse
      }
    }
    throw;
  }
}

}  // namespace tsdbpy::tsdata
