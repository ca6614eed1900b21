#pragma once

// A TCP peer on a loopback port that plays a scripted part instead of an
// OPC UA server: answers with garbage, says nothing, sends an Error message...
// Its thread ends when the object goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace hublet::testing {

class FakePeer {
 public:
  // `serve` gets each accepted connection and a descriptor that becomes
  // readable when the peer is stopping; the connection is closed after it.
  using Serve = std::function<void(int fd, int stop_fd)>;

  explicit FakePeer(Serve serve) : serve_(std::move(serve)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(listen_fd_, 8) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || pipe(stop_) != 0) {
      throw std::runtime_error("fake peer cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~FakePeer() {
    const char c = 'x';
    (void)!write(stop_[1], &c, 1);
    thread_.join();
    close(listen_fd_);
    close(stop_[0]);
    close(stop_[1]);
  }
  FakePeer(const FakePeer&) = delete;
  FakePeer& operator=(const FakePeer&) = delete;

  int port() const { return port_; }
  std::string endpoint() const { return "opc.tcp://127.0.0.1:" + std::to_string(port_); }

  // Reads what the client sends until `bytes` arrived or the peer stops.
  static std::string receive(int fd, int stop_fd, std::size_t bytes) {
    std::string got;
    while (got.size() < bytes) {
      pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
      if (poll(p, 2, 5000) <= 0 || (p[1].revents & POLLIN)) break;
      char buf[4096];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  static void send(int fd, const std::string& bytes) {
    (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // Blocks until the peer stops or the client hangs up.
  static void linger(int fd, int stop_fd) {
    for (;;) {
      pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
      if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) return;
      char buf[4096];
      if (read(fd, buf, sizeof buf) <= 0) return;
    }
  }

 private:
  void run() {
    for (;;) {
      pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) return;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      serve_(fd, stop_[0]);
      close(fd);
    }
  }

  Serve serve_;
  int listen_fd_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
};

}  // namespace hublet::testing
