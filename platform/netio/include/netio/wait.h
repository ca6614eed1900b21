#pragma once

// Waiting on a socket by a deadline, and ending such waits from another
// thread: every client of ours that must stop within a bound while a peer
// hangs waits through wait_ready() with the descriptor of an Interrupt.
// Header-only, so that whatever compiles the transport alone (the decoder
// fuzzer) needs no more sources.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "netio/tcp_connect.h"

namespace netio {

// True when `interrupt_fd` (an Interrupt's descriptor, or -1 for none) is set.
inline bool interrupted(int interrupt_fd) noexcept {
  if (interrupt_fd < 0) return false;
  pollfd p{interrupt_fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// An eventfd that another thread sets to end every wait that polls it.
// One-way: once set it stays set, so that every later wait on it ends at
// once too; a component that is to wait again needs a new one.
class Interrupt final {
 public:
  // Throws std::system_error when the kernel gives no eventfd.
  Interrupt() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  Interrupt(const Interrupt&) = delete;
  Interrupt& operator=(const Interrupt&) = delete;

  // Safe from any thread and from a signal handler.
  void set() noexcept {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, and then it is set already.
    [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
  }
  bool is_set() const noexcept { return interrupted(fd_.get()); }
  // Readable once set; for passing to the layers that wait.
  int fd() const noexcept { return fd_.get(); }

 private:
  UniqueFd fd_;
};

enum class Wait { kReady, kTimedOut, kInterrupted, kFailed };

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT; errors and hang-ups
// count as ready, so that the next read or write reports them), the
// deadline passes, or `interrupt_fd` (-1: none) is set. An interrupt wins
// over a ready socket.
inline Wait wait_ready(int fd, short events, Clock::time_point deadline, int interrupt_fd) noexcept {
  for (;;) {
    int timeout = 0;  // milliseconds to the deadline for poll(), rounded up
    const auto left = deadline - Clock::now();
    if (left > Clock::duration::zero()) {
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      timeout = ms > 1000000 ? 1000000 : static_cast<int>(ms);
    }
    pollfd p[2] = {{fd, events, 0}, {interrupt_fd, POLLIN, 0}};
    const nfds_t count = interrupt_fd >= 0 ? 2 : 1;
    const int n = ::poll(p, count, timeout);
    if (n > 0) {
      if (count == 2 && p[1].revents != 0) return Wait::kInterrupted;
      if (p[0].revents != 0) return Wait::kReady;
      continue;
    }
    if (n == 0) return Wait::kTimedOut;
    if (errno != EINTR) return Wait::kFailed;
  }
}

}  // namespace netio
