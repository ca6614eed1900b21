#pragma once

// Waiting on a socket by a deadline, and ending such waits from another
// thread: every client of ours that must stop within a bound while a peer
// hangs waits through wait_ready() with the descriptor of an Interrupt.

#include <chrono>

#include "netio/tcp_connect.h"

namespace netio {

// An eventfd that another thread sets to end every wait that polls it.
// One-way: once set it stays set, so that every later wait on it ends at
// once too; a component that is to wait again needs a new one.
class Interrupt final {
 public:
  // Throws std::system_error when the kernel gives no eventfd.
  Interrupt();
  Interrupt(const Interrupt&) = delete;
  Interrupt& operator=(const Interrupt&) = delete;

  // Safe from any thread and from a signal handler.
  void set() noexcept;
  bool is_set() const noexcept;
  // Readable once set; for passing to the layers that wait.
  int fd() const noexcept { return fd_.get(); }

 private:
  UniqueFd fd_;
};

// True when `interrupt_fd` (an Interrupt's descriptor, or -1 for none) is set.
bool interrupted(int interrupt_fd) noexcept;

enum class Wait { kReady, kTimedOut, kInterrupted, kFailed };

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT; errors and hang-ups
// count as ready, so that the next read or write reports them), the
// deadline passes, or `interrupt_fd` (-1: none) is set. An interrupt wins
// over a ready socket.
Wait wait_ready(int fd, short events, Clock::time_point deadline, int interrupt_fd) noexcept;

}  // namespace netio
