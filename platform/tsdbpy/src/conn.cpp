#include "tsdbpy/conn.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

#include "netio/wait.h"
#include "pq.h"

namespace tsdbpy::conn {

namespace {

using detail::Clock;
using namespace std::chrono_literals;

constexpr auto kDefaultConnectTimeout = 10s;
constexpr auto kDefaultStatementTimeout = 10s;

// Serialises the first connections to a database that lacks the schema
// (any fixed key; "tsdbpy" in ASCII).
constexpr std::int64_t kSchemaLockKey = 0x747364627079;

// Whether the schema is schema.sql's as it is now (every relation there and
// tsdata marked with this version), and whether tsdata is still the
// unpartitioned table of before, whose rows the schema then moves.
constexpr const char* kSchemaStateSql =
    "SELECT coalesce(obj_description(to_regclass('tsdata'), 'pg_class') = 'tsdbpy schema 2: partitioned by "
    "day',"
    " false) AND to_regclass('sources') IS NOT NULL AND to_regclass('tags') IS NOT NULL"
    " AND to_regclass('tsdata_default') IS NOT NULL AND to_regclass('tsdata_tag_ts_idx') IS NOT NULL,"
    " coalesce((SELECT relkind = 'r' FROM pg_class WHERE oid = to_regclass('tsdata')), false)";

// Moving the rows of an unpartitioned tsdata takes as long as they are many;
// the bound is there only so that a dead server is noticed.
constexpr auto kMigrationTimeout = std::chrono::hours(12);

bool equals_nocase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
  });
}

bool parse_bool(const Setting& s) {
  for (const char* yes : {"true", "1", "on", "yes"}) {
    if (equals_nocase(s.value, yes)) return true;
  }
  for (const char* no : {"false", "0", "off", "no"}) {
    if (equals_nocase(s.value, no)) return false;
  }
  throw ConnectError("setting " + s.key + " must be true or false, got \"" + s.value + "\"");
}

// Seconds, decimals allowed; at least one millisecond and at most a day.
std::chrono::milliseconds parse_seconds(const Setting& s) {
  double seconds = 0;
  const char* const begin = s.value.data();
  const char* const end = begin + s.value.size();
  const auto [ptr, ec] = std::from_chars(begin, end, seconds);
  if (ec != std::errc() || ptr != end || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
    throw ConnectError("setting " + s.key + " must be a number of seconds above 0 and up to 86400, got \"" +
                       s.value + "\"");
  }
  return std::max(1ms, std::chrono::milliseconds(std::llround(seconds * 1000)));
}

struct Plan {
  std::vector<std::pair<std::string, std::string>> libpq;
  bool autocommit = true;
  std::chrono::milliseconds connect_timeout = kDefaultConnectTimeout;
  std::chrono::milliseconds statement_timeout = kDefaultStatementTimeout;
};

void put(Plan& plan, const std::string& key, const std::string& value) {
  for (auto& [k, v] : plan.libpq) {
    if (k == key) {
      v = value;
      return;
    }
  }
  plan.libpq.emplace_back(key, value);
}

bool has(const Plan& plan, std::string_view key) {
  return std::any_of(plan.libpq.begin(), plan.libpq.end(), [&](const auto& kv) { return kv.first == key; });
}

Plan plan_for(const Settings& settings) {
  Plan plan;
  for (const auto& s : settings) {
    if (s.key == "autocommit") {
      plan.autocommit = parse_bool(s);
    } else if (s.key == "connect_timeout") {
      plan.connect_timeout = parse_seconds(s);
    } else if (s.key == "statement_timeout") {
      plan.statement_timeout = parse_seconds(s);
    } else {
      put(plan, s.key, s.value);
    }
  }
  // A dead peer must be noticed: keepalives for idle connections, a TCP user
  // time-out for unacknowledged data.
  const std::array<std::pair<const char*, const char*>, 7> defaults{{
      {"client_encoding", "UTF8"},
      {"keepalives", "1"},
      {"keepalives_idle", "5"},
      {"keepalives_interval", "2"},
      {"keepalives_count", "3"},
      {"tcp_user_timeout", "10000"},
      {"fallback_application_name", "tsdbpy"},
  }};
  for (const auto& [key, value] : defaults) {
    if (!has(plan, key)) put(plan, key, value);
  }
  // The server cancels our statements itself; the caller's own options come
  // after ours and so may override it.
  std::string options = "-c statement_timeout=" + std::to_string(plan.statement_timeout.count());
  for (auto& [k, v] : plan.libpq) {
    if (k == "options") {
      v = options + (v.empty() ? "" : " " + v);
      return plan;
    }
  }
  plan.libpq.emplace_back("options", options);
  return plan;
}

std::string describe_target(PGconn* pg) {
  const char* host = PQhost(pg);
  const char* port = PQport(pg);
  std::string out = "the database server";
  if (host != nullptr && *host != '\0') out += std::string(" at ") + host;
  if (port != nullptr && *port != '\0') out += std::string(", port ") + port;
  return out;
}

// Drives libpq's non-blocking connect to the end, or to the deadline. One
// deadline for every address of the host, unlike libpq's own time-out.
void finish_connect(PGconn* pg, std::chrono::milliseconds timeout, Clock::time_point deadline,
                    int interrupt_fd) {
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  for (;;) {
    if (state == PGRES_POLLING_OK) return;
    if (state == PGRES_POLLING_FAILED) throw ConnectError(detail::pq_message(pg));
    const int fd = PQsocket(pg);
    if (fd < 0) throw ConnectError(detail::pq_message(pg));
    const auto events = static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT);
    switch (netio::wait_ready(fd, events, deadline, interrupt_fd)) {
      case netio::Wait::kReady:
        state = PQconnectPoll(pg);
        break;
      case netio::Wait::kTimedOut:
        throw ConnectError("timeout expired after " + std::to_string(timeout.count()) + " ms connecting to " +
                           describe_target(pg));
      case netio::Wait::kInterrupted:
        throw ConnectError("connecting to " + describe_target(pg) + " was interrupted");
      case netio::Wait::kFailed:
        throw ConnectError("poll while connecting: " + std::string(std::strerror(errno)));
    }
  }
}

// Creates or upgrades the schema unless it is current. The advisory lock
// makes a second first connection wait and then find everything in place.
void ensure_schema(Connection& conn, Clock::time_point deadline) {
  auto state = detail::exec(conn, kSchemaStateSql, {}, deadline);
  if (std::string_view(PQgetvalue(state.get(), 0, 0)) == "t") return;
  const bool moving_rows = std::string_view(PQgetvalue(state.get(), 0, 1)) == "t";
  if (moving_rows) deadline = std::max(deadline, Clock::now() + kMigrationTimeout);
  detail::exec_script(conn, "BEGIN", deadline);
  try {
    detail::Params key;
    key.int8(kSchemaLockKey);
    detail::exec(conn, "SELECT pg_advisory_xact_lock($1)", key, deadline);
    // Whoever held the lock may have done it all; running the script again
    // would take locks that writers' upkeep takes in the other order.
    state = detail::exec(conn, kSchemaStateSql, {}, deadline);
    if (std::string_view(PQgetvalue(state.get(), 0, 0)) == "t") {
      detail::exec_script(conn, "COMMIT", deadline);
      return;
    }
    if (moving_rows) detail::exec_script(conn, "SET LOCAL statement_timeout = 0", deadline);
    const std::string schema(detail::schema_sql());
    detail::exec_script(conn, schema.c_str(), deadline);
    detail::exec_script(conn, "COMMIT", deadline);
  } catch (...) {
    if (conn) {
      try {
        detail::exec_script(conn, "ROLLBACK", deadline);
      } catch (const Error&) {
        detail::Access::abandon(conn);  // state unknown: not for reuse
      }
    }
    throw;
  }
}

void ignore_notice(void*, const char*) {}

}  // namespace

Setting::Setting(std::string k, double v) : key(std::move(k)) {
  std::array<char, 32> buf{};
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  value.assign(buf.data(), ec == std::errc() ? end : buf.data());
}

Connection::~Connection() {
  close();
}

Connection::Connection(Connection&& other) noexcept
    : pg_(std::exchange(other.pg_, nullptr)),
      lost_(std::exchange(other.lost_, false)),
      autocommit_(other.autocommit_),
      statement_timeout_(other.statement_timeout_),
      interrupt_fd_(std::exchange(other.interrupt_fd_, -1)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close();
    pg_ = std::exchange(other.pg_, nullptr);
    lost_ = std::exchange(other.lost_, false);
    autocommit_ = other.autocommit_;
    statement_timeout_ = other.statement_timeout_;
    interrupt_fd_ = std::exchange(other.interrupt_fd_, -1);
  }
  return *this;
}

Connection::operator bool() const noexcept {
  return pg_ != nullptr && PQstatus(pg_) == CONNECTION_OK;
}

bool Connection::broken() const noexcept {
  return lost_ || (pg_ != nullptr && PQstatus(pg_) != CONNECTION_OK);
}

void Connection::close() noexcept {
  if (pg_ != nullptr) PQfinish(pg_);
  pg_ = nullptr;
  lost_ = false;
}

Connection get_conn(const Settings& settings, int interrupt_fd) {
  const Plan plan = plan_for(settings);
  const auto deadline = Clock::now() + plan.connect_timeout;

  std::vector<const char*> keys;
  std::vector<const char*> values;
  for (const auto& [k, v] : plan.libpq) {
    keys.push_back(k.c_str());
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);

  // expand_dbname = 0: a dbname is a name, never a connection string.
  PGconn* pg = PQconnectStartParams(keys.data(), values.data(), 0);
  if (pg == nullptr) throw ConnectError("libpq could not allocate a connection");
  Connection conn = detail::Access::make(pg, plan.autocommit, plan.statement_timeout, interrupt_fd);
  if (PQstatus(pg) == CONNECTION_BAD) throw ConnectError(detail::pq_message(pg));
  finish_connect(pg, plan.connect_timeout, deadline, interrupt_fd);

  PQsetNoticeProcessor(pg, ignore_notice, nullptr);
  if (PQsetnonblocking(pg, 1) != 0) throw ConnectError(detail::pq_message(pg));
  try {
    ensure_schema(conn, deadline);
  } catch (const Error& e) {
    throw ConnectError(std::string("cannot prepare the database schema: ") + e.what());
  }
  return conn;
}

}  // namespace tsdbpy::conn
