#pragma once

// SIGINT and SIGTERM as a descriptor, for programs that stop cleanly on
// Ctrl-C: no work in a signal handler, and a wait that also ends with the
// program's own work. Header-only, like wait.h.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

namespace netio {

class StopSignals final {
 public:
  // Construct first in main, before any thread starts: the signals are
  // blocked in this thread and every thread it starts later, so they all
  // leave them to this descriptor. Throws std::system_error.
  StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  }
  ~StopSignals() { ::close(fd_); }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Returns when a stop signal has come, `other_fd` is readable (the
  // program's work ended; -1 for none), or `deadline` has passed.
  void wait(int other_fd,
            std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) const {
    for (;;) {
      int timeout = -1;
      if (deadline) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
      }
      pollfd fds[2] = {{fd_, POLLIN, 0}, {other_fd, POLLIN, 0}};
      if (::poll(fds, other_fd < 0 ? 1 : 2, timeout) > 0) return;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace netio
