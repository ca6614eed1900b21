#include "connectivity.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace varnok::velmora {

namespace {

using Clock = std::chrono::steady_clock;

// Owns one socket descriptor; closed on every way out.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

struct AddrInfoFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// One non-blocking connection attempt, bounded by deadline.
bool connect_before(const addrinfo& address, Clock::time_point deadline) {
  const Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.fd() < 0) return false;
  if (::connect(socket.fd(), address.ai_addr, address.ai_addrlen) == 0) return true;
  if (errno != EINPROGRESS) return false;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd waiting{socket.fd(), POLLOUT, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
  }
}

// The client's message on one line: libpq's texts span several lines.
std::string one_line(const std::string& text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
    if (space) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

tsdbpy::conn::Settings ProbeSettings::default_database_settings() {
  return {
      {"host", "localhost"},         {"port", 22400},          {"user", "postgres"}, {"password", "plok9876"},
      {"dbname", "tsdb_simulation"}, {"connect_timeout", 2.0}, {"autocommit", true}};
}

bool check_port_open(const std::string& host, int port, std::chrono::milliseconds timeout) {
  if (port < 0 || port > 65535) {
    throw std::invalid_argument("check_port_open: port " + std::to_string(port) + " is not in 0..65535");
  }
  if (timeout.count() <= 0) {
    throw std::invalid_argument("check_port_open: time-out of " + std::to_string(timeout.count()) +
                                " ms is not positive");
  }
  const auto deadline = Clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, AddrInfoFree> addresses(found);
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    if (connect_before(*address, deadline)) return true;
    if (Clock::now() >= deadline) return false;
  }
  return false;
}

bool check_opcgate_connection(const ProbeSettings& settings) {
  for (const int port : settings.opc_ports) {
    if (!check_port_open(settings.host, port, settings.port_timeout)) {
      std::cout << "OrvaneOPCSim is not reachable on " << settings.host << ':' << port << std::endl;
      return false;
    }
  }
  std::cout << "OrvaneOPCSim is reachable." << std::endl;
  return true;
}

bool check_db_connection(const ProbeSettings& settings) {
  try {
    tsdbpy::conn::Connection connection = tsdbpy::conn::get_conn(settings.database);
    if (!connection) return false;
    connection.close();
    return true;
  } catch (const std::exception& e) {
    std::cout << "Database connection error: " << one_line(e.what()) << std::endl;
    return false;
  }
}

}  // namespace varnok::velmora
