#pragma once

// Connections to the time-series database.
//
// A Connection is one libpq connection, used by one thread at a time. Every
// call on it ends in bounded time: the server cancels a statement after
// statement_timeout, and a call that has heard nothing from the server
// statement_timeout + 2 s after sending gives up and closes the connection.
// TCP keepalives and a TCP user time-out let a dead server or network be
// noticed on an idle connection too.
//
// A lost connection (server restarted or gone, network down, no answer in
// time) makes calls fail (Result::ok false, or tsdbpy::Error where a call
// returns data) and turns the connection false with broken() true. It is not
// reconnected behind the caller's back; to carry on, open a new one:
//
//   if (!conn) conn = tsdbpy::conn::get_conn(settings);   // may throw again
//
// A connection made with an interrupt descriptor (a netio::Interrupt's, or
// any descriptor that turns readable) can be abandoned from another thread:
// once it is readable, the call in progress and every later call fail at
// once, and the connection is closed and broken.

#include <chrono>
#include <concepts>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tsdbpy/error.h"

struct pg_conn;  // libpq's PGconn

namespace tsdbpy::detail {
struct Access;
}

namespace tsdbpy::conn {

// get_conn could not open a usable connection. The message is libpq's or the
// server's text (wrong password, refused connection, time-out ...), or names
// the setting that was refused.
class ConnectError : public Error {
 public:
  using Error::Error;
};

// One keyword setting; numbers and truth values are kept in text form so
// that {"port", 5432}, {"connect_timeout", 2.0} and {"autocommit", true}
// all read naturally.
struct Setting {
  Setting(std::string k, std::string v) : key(std::move(k)), value(std::move(v)) {}
  Setting(std::string k, const char* v) : key(std::move(k)), value(v) {}
  Setting(std::string k, std::string_view v) : key(std::move(k)), value(v) {}
  Setting(std::string k, bool v) : key(std::move(k)), value(v ? "true" : "false") {}
  template <std::integral T>
  requires(!std::same_as<T, bool>) Setting(std::string k, T v)
      : key(std::move(k)), value(std::to_string(v)) {}
  // Shortest text that reads back as the same double (2.0 gives "2").
  Setting(std::string k, double v);

  std::string key;
  std::string value;
};
using Settings = std::vector<Setting>;

class Connection {
 public:
  // A closed connection.
  Connection() noexcept = default;
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True while the connection is open and libpq knows of no failure.
  explicit operator bool() const noexcept;
  // True once an open connection was lost; false for a healthy or a closed
  // one. A broken connection stays broken: open a new one.
  bool broken() const noexcept;
  // Closes the connection (nothing to commit: every call commits before it
  // returns). Safe to call twice.
  void close() noexcept;

  bool autocommit() const noexcept { return autocommit_; }
  std::chrono::milliseconds statement_timeout() const noexcept { return statement_timeout_; }

  // The libpq handle, or null when closed; for checks and tools. Do not close
  // it or leave a transaction open on it.
  pg_conn* native_handle() const noexcept { return pg_; }

 private:
  friend struct detail::Access;
  Connection(pg_conn* pg, bool autocommit, std::chrono::milliseconds statement_timeout,
             int interrupt_fd) noexcept
      : pg_(pg),
        autocommit_(autocommit),
        statement_timeout_(statement_timeout),
        interrupt_fd_(interrupt_fd) {}

  pg_conn* pg_ = nullptr;
  bool lost_ = false;  // given up on (no answer in time, interrupted); the handle is gone
  bool autocommit_ = true;
  std::chrono::milliseconds statement_timeout_{10000};
  int interrupt_fd_ = -1;  // not owned
};

// Opens a connection and creates the schema if the database lacks it.
//
// Settings understood here:
//   autocommit         true/false, 1/0, on/off, yes/no (default true). Each
//                      call of this library is one statement that commits
//                      before it returns, whatever the value: with false the
//                      call is its own transaction, committed per call.
//   connect_timeout    seconds, decimals allowed, > 0 (default 10): bounds the
//                      whole of get_conn, every address of the host included.
//   statement_timeout  seconds, decimals allowed, > 0 (default 10).
// Every other keyword goes to libpq as it is (host, port, user, password,
// dbname, sslmode, options, ...); libpq refuses keywords it does not know.
// Values are never parsed as a connection string. A later setting of the same
// keyword wins. Defaults unless given: client_encoding UTF8, keepalives on
// (idle 5 s, interval 2 s, count 3), tcp_user_timeout 10 s.
//
// `interrupt_fd` (-1: none) ends connecting, and every later call on the
// connection, as soon as it turns readable; the caller keeps it open as long
// as the connection lives.
//
// Returns an open connection or throws ConnectError.
Connection get_conn(const Settings& settings, int interrupt_fd = -1);

}  // namespace tsdbpy::conn
