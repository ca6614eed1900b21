#pragma once

// The libpq layer under the public calls: parameter building, execution with
// a deadline, and decoding of binary results.

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tsdbpy/conn.h"
#include "tsdbpy/error.h"

namespace tsdbpy::detail {

using conn::Connection;

using Clock = std::chrono::steady_clock;

// What a call waits beyond statement_timeout for the server's own cancel to
// arrive before it declares the server unreachable.
inline constexpr std::chrono::milliseconds kAnswerGrace{2000};

std::string_view schema_sql();  // generated from schema.sql

// Private access to Connection for this layer.
struct Access {
  static PGconn* handle(const Connection& conn) noexcept { return conn.pg_; }
  static Connection make(PGconn* pg, bool autocommit, std::chrono::milliseconds statement_timeout,
                         int interrupt_fd) noexcept {
    return Connection(pg, autocommit, statement_timeout, interrupt_fd);
  }
  static int interrupt_fd(const Connection& conn) noexcept { return conn.interrupt_fd_; }
  // Gives up on a connection that did not answer in time or was
  // interrupted: closes the socket and leaves the connection broken.
  static void abandon(Connection& conn) noexcept;
};

// libpq's last message for `pg`, without the trailing line break.
std::string pq_message(const PGconn* pg);
// A result's error message, without the trailing line break.
std::string result_message(const PGresult* res);

struct ResultDeleter {
  void operator()(PGresult* res) const noexcept { PQclear(res); }
};
using PgResult = std::unique_ptr<PGresult, ResultDeleter>;

// Query parameters with their types. Texts travel in text form, everything
// else in binary form, so no value is ever rendered into SQL or parsed from a
// literal. Texts holding a NUL character are refused (libpq would cut them).
class Params {
 public:
  // `what` names the value in the error message.
  void text(std::string_view value, std::string_view what);
  void null_text();
  void int4(std::optional<int> value);
  void int8(std::int64_t value);
  // Rounded up to the server's microsecond.
  void timestamptz(std::chrono::system_clock::time_point value);
  void timestamptz_array(std::span<const std::chrono::system_clock::time_point> values);
  void int4_array(std::span<const int> values);
  void float8_array(std::span<const double> values);
  void text_array(const std::vector<std::string>& values, std::string_view what);

  int size() const noexcept { return static_cast<int>(types_.size()); }
  const Oid* types() const noexcept { return types_.data(); }
  const int* formats() const noexcept { return formats_.data(); }
  // Value pointers and lengths for libpq; valid while this object is alive
  // and unchanged.
  std::vector<const char*> values() const;
  std::vector<int> lengths() const;

 private:
  void add(Oid type, std::string bytes, int format, bool is_null = false);

  std::vector<Oid> types_;
  std::vector<std::string> bytes_;
  std::vector<int> formats_;
  std::vector<char> nulls_;
};

// Input that cannot be sent; thrown before anything reaches the server.
class InputError : public Error {
 public:
  using Error::Error;
};

// Runs one parameterised statement, binary results when `binary`, and
// returns its result. Throws Error with the server's or libpq's message on
// failure; a connection that does not answer by `deadline` is abandoned.
PgResult exec(Connection& conn, const char* sql, const Params& params, Clock::time_point deadline,
              bool binary = false);
// The usual deadline for a call on `conn`.
Clock::time_point call_deadline(const Connection& conn);
// Runs a script of several statements without parameters (simple protocol);
// only for the library's own constant SQL.
void exec_script(Connection& conn, const char* sql, Clock::time_point deadline);

// Binary field decoding. The caller has checked the column types.
bool is_null(const PGresult* res, int row, int col);
int get_int4(const PGresult* res, int row, int col);
double get_float8(const PGresult* res, int row, int col);
std::chrono::system_clock::time_point get_timestamptz(const PGresult* res, int row, int col);
std::string get_text(const PGresult* res, int row, int col);
// A text[] field; NULL arrays and NULL elements read as empty.
std::vector<std::string> get_text_array(const PGresult* res, int row, int col);

// Result for a storing call that failed with `e`.
Result failed(const std::exception& e);

}  // namespace tsdbpy::detail
