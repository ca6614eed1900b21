#include "netio/wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace netio {

namespace {

// Milliseconds to `deadline` for poll(), rounded up; 0 once it has passed.
int poll_timeout(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

}  // namespace

Interrupt::Interrupt() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void Interrupt::set() noexcept {
  const std::uint64_t one = 1;
  // Only fails when the counter would overflow, and then it is set already.
  [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

bool Interrupt::is_set() const noexcept {
  return interrupted(fd_.get());
}

bool interrupted(int interrupt_fd) noexcept {
  if (interrupt_fd < 0) return false;
  pollfd p{interrupt_fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

Wait wait_ready(int fd, short events, Clock::time_point deadline, int interrupt_fd) noexcept {
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {interrupt_fd, POLLIN, 0}};
    const nfds_t count = interrupt_fd >= 0 ? 2 : 1;
    const int n = ::poll(p, count, poll_timeout(deadline));
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
