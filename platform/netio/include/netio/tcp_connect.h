#pragma once

// Connecting a TCP socket by a deadline: name resolution, then every address
// in turn, non-blocking, so that no peer that drops packets can hold a caller
// past the deadline it gave.

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

namespace netio {

using Clock = std::chrono::steady_clock;

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  std::string text() const;  // "[::1]:4840", "127.0.0.1:4840"
};

// Every address the resolver gives for host:port, in its order. family is
// AF_UNSPEC (IPv6 and IPv4) or AF_INET. False when there is none, with
// `error` saying so for a user: "cannot resolve host NAME: <the resolver's
// reason>".
bool resolve(const std::string& host, int port, int family, std::vector<Address>& out, std::string& error);

// Owns a socket descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() noexcept;

 private:
  int fd_ = -1;
};

struct Connection {
  UniqueFd socket;           // connected, non-blocking, close-on-exec; empty on failure
  bool timed_out = false;    // the deadline ended the last attempt
  bool interrupted = false;  // the interrupt descriptor ended it
  std::string error;         // every failed address with its reason, "; "-separated
};

// Tries each address in turn until one connects. Each attempt gets an equal
// share of the time left, so one address that never answers cannot starve
// the others. A set `interrupt_fd` (netio::Interrupt, wait.h; -1: none) ends
// the attempt in progress and every later one at once.
Connection connect_any(const std::vector<Address>& addresses, Clock::time_point deadline,
                       int interrupt_fd = -1);

// resolve() then connect_any(). Name resolution is bounded by the
// resolver's own time-outs.
Connection connect_host(const std::string& host, int port, Clock::time_point deadline, int family = AF_UNSPEC,
                        int interrupt_fd = -1);

}  // namespace netio
