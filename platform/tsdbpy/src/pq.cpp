#include "pq.h"

#include <poll.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include "netio/wait.h"

namespace tsdbpy::detail {

namespace {

// Type oids of the built-in types used here (fixed in every PostgreSQL).
constexpr Oid kInt8 = 20;
constexpr Oid kInt4 = 23;
constexpr Oid kText = 25;
constexpr Oid kFloat8 = 701;
constexpr Oid kTimestamptz = 1184;
constexpr Oid kTimestamptzArray = 1185;
constexpr Oid kInt4Array = 1007;
constexpr Oid kTextArray = 1009;
constexpr Oid kFloat8Array = 1022;

// Microseconds from the Unix epoch to PostgreSQL's, 2000-01-01 UTC.
constexpr std::int64_t kPgEpochUs = 946'684'800'000'000;

std::string trimmed(const char* message) {
  std::string out = message != nullptr ? message : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

void put_u32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xffu));
}

void put_u64(std::string& out, std::uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xffu));
}

std::uint32_t read_u32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::uint64_t read_u64(const char* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

void check_text(std::string_view value, std::string_view what) {
  if (value.find('\0') != std::string_view::npos) {
    throw InputError(std::string(what) + " contains a NUL character, which the database cannot store");
  }
}

// Header of a one-dimensional binary array (an empty one has no dimension).
std::string array_header(Oid element, std::size_t count, bool has_nulls) {
  if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw InputError("too many values for one statement");
  }
  std::string out;
  put_u32(out, count == 0 ? 0 : 1);
  put_u32(out, has_nulls ? 1 : 0);
  put_u32(out, element);
  if (count != 0) {
    put_u32(out, static_cast<std::uint32_t>(count));
    put_u32(out, 1);  // lower bound
  }
  return out;
}

// The socket could not be waited on.
class SocketError : public Error {
 public:
  using Error::Error;
};

// Gives up on the connection and fails the call.
[[noreturn]] void fail_unanswered(Connection& conn, std::chrono::milliseconds waited) {
  Access::abandon(conn);
  throw Error("no answer from the database server within " + std::to_string(waited.count()) +
              " ms; connection closed");
}

// Waits until the connection's socket is ready for `events`; false when the
// deadline passed first. An interrupt abandons the connection.
bool wait_socket(Connection& conn, PGconn* pg, short events, Clock::time_point deadline) {
  const int fd = PQsocket(pg);
  if (fd < 0) throw SocketError("no connection to the server");
  switch (netio::wait_ready(fd, events, deadline, Access::interrupt_fd(conn))) {
    case netio::Wait::kReady:
      return true;
    case netio::Wait::kTimedOut:
      return false;
    case netio::Wait::kInterrupted:
      Access::abandon(conn);
      throw Error("the call was interrupted; connection closed");
    case netio::Wait::kFailed:
      break;
  }
  throw SocketError(std::string("poll on the database socket: ") + std::strerror(errno));
}

// Fails a call whose exchange broke off half-way: the connection's state is
// unknown, so it is not used again.
[[noreturn]] void fail_mid_call(Connection& conn, std::string message) {
  Access::abandon(conn);
  throw Error(message);
}

// Collects the answer to what was just queued on `pg`: the last result, or
// the first error.
PgResult collect(Connection& conn, PGconn* pg, Clock::time_point deadline) {
  const auto started = Clock::now();
  const auto waited = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  };
  try {
    for (;;) {
      const int flushed = PQflush(pg);
      if (flushed == 0) break;
      if (flushed < 0) fail_mid_call(conn, pq_message(pg));
      if (!wait_socket(conn, pg, POLLIN | POLLOUT, deadline)) fail_unanswered(conn, waited());
      if (PQconsumeInput(pg) == 0) fail_mid_call(conn, pq_message(pg));
    }

    PgResult last;
    PgResult first_error;
    for (;;) {
      while (PQisBusy(pg) != 0) {
        if (!wait_socket(conn, pg, POLLIN, deadline)) fail_unanswered(conn, waited());
        // On a lost connection libpq turns to CONNECTION_BAD and PQgetResult
        // below reports why (the server's last words, if any).
        if (PQconsumeInput(pg) == 0 && PQstatus(pg) == CONNECTION_OK) fail_mid_call(conn, pq_message(pg));
      }
      PGresult* raw = PQgetResult(pg);
      if (raw == nullptr) break;
      PgResult res(raw);
      const ExecStatusType status = PQresultStatus(raw);
      if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR) {
        if (!first_error) first_error = std::move(res);
      } else {
        last = std::move(res);
      }
    }
    if (first_error) throw Error(result_message(first_error.get()));
    if (!last) throw Error("the database server sent no result");
    return last;
  } catch (const SocketError& e) {
    fail_mid_call(conn, e.what());
  }
}

PGconn* usable(Connection& conn) {
  if (netio::interrupted(Access::interrupt_fd(conn))) {
    Access::abandon(conn);
    throw Error("the connection was interrupted");
  }
  PGconn* pg = Access::handle(conn);
  if (pg == nullptr)
    throw Error(conn.broken() ? "the database connection was lost" : "the database connection is closed");
  if (PQstatus(pg) != CONNECTION_OK) throw Error("the database connection was lost: " + pq_message(pg));
  return pg;
}

}  // namespace

void Access::abandon(Connection& conn) noexcept {
  if (conn.pg_ != nullptr) PQfinish(conn.pg_);
  conn.pg_ = nullptr;
  conn.lost_ = true;
}

std::string pq_message(const PGconn* pg) {
  std::string out = trimmed(PQerrorMessage(pg));
  return out.empty() ? "unknown libpq failure" : out;
}

std::string result_message(const PGresult* res) {
  std::string out = trimmed(PQresultErrorMessage(res));
  return out.empty() ? std::string("statement failed: ") + PQresStatus(PQresultStatus(res)) : out;
}

void Params::add(Oid type, std::string bytes, int format, bool is_null) {
  types_.push_back(type);
  bytes_.push_back(std::move(bytes));
  formats_.push_back(format);
  nulls_.push_back(is_null ? 1 : 0);
}

void Params::text(std::string_view value, std::string_view what) {
  check_text(value, what);
  add(kText, std::string(value), 0);
}

void Params::null_text() {
  add(kText, {}, 0, true);
}

void Params::int4(std::optional<int> value) {
  std::string bytes;
  if (value) put_u32(bytes, static_cast<std::uint32_t>(*value));
  add(kInt4, std::move(bytes), 1, !value);
}

void Params::int8(std::int64_t value) {
  std::string bytes;
  put_u64(bytes, static_cast<std::uint64_t>(value));
  add(kInt8, std::move(bytes), 1);
}

void Params::timestamptz(std::chrono::system_clock::time_point value) {
  // Rounded up, so that "ts >= value" and "ts < value" keep their meaning at
  // the server's microsecond resolution.
  const auto us = std::chrono::ceil<std::chrono::microseconds>(value.time_since_epoch()).count();
  std::string bytes;
  put_u64(bytes, static_cast<std::uint64_t>(us - kPgEpochUs));
  add(kTimestamptz, std::move(bytes), 1);
}

void Params::timestamptz_array(std::span<const std::chrono::system_clock::time_point> values) {
  std::string bytes = array_header(kTimestamptz, values.size(), false);
  bytes.reserve(bytes.size() + values.size() * 12);
  for (const auto value : values) {
    // Rounded up like timestamptz().
    const auto us = std::chrono::ceil<std::chrono::microseconds>(value.time_since_epoch()).count();
    put_u32(bytes, 8);
    put_u64(bytes, static_cast<std::uint64_t>(us - kPgEpochUs));
  }
  add(kTimestamptzArray, std::move(bytes), 1);
}

void Params::int4_array(std::span<const int> values) {
  std::string bytes = array_header(kInt4, values.size(), false);
  bytes.reserve(bytes.size() + values.size() * 8);
  for (const int v : values) {
    put_u32(bytes, 4);
    put_u32(bytes, static_cast<std::uint32_t>(v));
  }
  add(kInt4Array, std::move(bytes), 1);
}

void Params::float8_array(std::span<const double> values) {
  std::string bytes = array_header(kFloat8, values.size(), false);
  bytes.reserve(bytes.size() + values.size() * 12);
  for (const double v : values) {
    put_u32(bytes, 8);
    put_u64(bytes, std::bit_cast<std::uint64_t>(v));
  }
  add(kFloat8Array, std::move(bytes), 1);
}

void Params::text_array(const std::vector<std::string>& values, std::string_view what) {
  std::string bytes = array_header(kText, values.size(), false);
  for (const auto& v : values) {
    check_text(v, what);
    if (v.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      throw InputError(std::string(what) + " is too long");
    }
    put_u32(bytes, static_cast<std::uint32_t>(v.size()));
    bytes += v;
  }
  add(kTextArray, std::move(bytes), 1);
}

std::vector<const char*> Params::values() const {
  std::vector<const char*> out;
  out.reserve(bytes_.size());
  for (std::size_t i = 0; i < bytes_.size(); ++i) out.push_back(nulls_[i] != 0 ? nullptr : bytes_[i].c_str());
  return out;
}

std::vector<int> Params::lengths() const {
  std::vector<int> out;
  out.reserve(bytes_.size());
  for (const auto& b : bytes_) {
    if (b.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
      throw InputError("parameter too large");
    out.push_back(static_cast<int>(b.size()));
  }
  return out;
}

Clock::time_point call_deadline(const Connection& conn) {
  return Clock::now() + conn.statement_timeout() + kAnswerGrace;
}

PgResult exec(Connection& conn, const char* sql, const Params& params, Clock::time_point deadline,
              bool binary) {
  PGconn* pg = usable(conn);
  const auto values = params.values();
  const auto lengths = params.lengths();
  if (PQsendQueryParams(pg, sql, params.size(), params.types(), values.data(), lengths.data(),
                        params.formats(), binary ? 1 : 0) == 0) {
    throw Error(pq_message(pg));
  }
  return collect(conn, pg, deadline);
}

void exec_script(Connection& conn, const char* sql, Clock::time_point deadline) {
  PGconn* pg = usable(conn);
  if (PQsendQuery(pg, sql) == 0) throw Error(pq_message(pg));
  collect(conn, pg, deadline);
}

bool is_null(const PGresult* res, int row, int col) {
  return PQgetisnull(res, row, col) != 0;
}

namespace {
const char* field(const PGresult* res, int row, int col, int size) {
  if (PQgetlength(res, row, col) != size) throw Error("unexpected field size in the server's answer");
  return PQgetvalue(res, row, col);
}
}  // namespace

int get_int4(const PGresult* res, int row, int col) {
  return static_cast<int>(read_u32(field(res, row, col, 4)));
}

double get_float8(const PGresult* res, int row, int col) {
  return std::bit_cast<double>(read_u64(field(res, row, col, 8)));
}

std::chrono::system_clock::time_point get_timestamptz(const PGresult* res, int row, int col) {
  using std::chrono::system_clock;
  const auto pg_us = static_cast<std::int64_t>(read_u64(field(res, row, col, 8)));
  // The clock counts finer than microseconds, so its range is narrower than
  // the server's (and excludes +-infinity).
  constexpr std::int64_t kPerUs =
      std::chrono::duration_cast<system_clock::duration>(std::chrono::microseconds(1)).count();
  constexpr std::int64_t kMaxUs = std::numeric_limits<std::int64_t>::max() / kPerUs - kPgEpochUs;
  constexpr std::int64_t kMinUs = std::numeric_limits<std::int64_t>::min() / kPerUs - kPgEpochUs;
  if (pg_us > kMaxUs || pg_us < kMinUs) throw Error("time stamp out of the client's range");
  return system_clock::time_point(std::chrono::microseconds(pg_us + kPgEpochUs));
}

std::string get_text(const PGresult* res, int row, int col) {
  return std::string(PQgetvalue(res, row, col), static_cast<std::size_t>(PQgetlength(res, row, col)));
}

std::vector<std::string> get_text_array(const PGresult* res, int row, int col) {
  std::vector<std::string> out;
  if (is_null(res, row, col)) return out;
  const char* p = PQgetvalue(res, row, col);
  const char* const end = p + PQgetlength(res, row, col);
  const auto take = [&](std::size_t n) {
    if (static_cast<std::size_t>(end - p) < n) throw Error("malformed array in the server's answer");
    const char* at = p;
    p += n;
    return at;
  };
  const std::uint32_t ndim = read_u32(take(4));
  take(8);  // null flag, element type
  if (ndim == 0) return out;
  if (ndim != 1) throw Error("unexpected multi-dimensional array in the server's answer");
  const std::uint32_t count = read_u32(take(4));
  take(4);  // lower bound
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto len = static_cast<std::int32_t>(read_u32(take(4)));
    if (len < 0) {
      out.emplace_back();
    } else {
      const char* at = take(static_cast<std::size_t>(len));
      out.emplace_back(at, static_cast<std::size_t>(len));
    }
  }
  return out;
}

Result failed(const std::exception& e) {
  return Result{false, e.what()};
}

}  // namespace tsdbpy::detail
