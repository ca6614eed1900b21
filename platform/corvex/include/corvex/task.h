#pragma once

#include <cstdint>

namespace corvex {

// Something a runner executes on its own thread: run() blocks until stop().
// stop() and get_done_count() may be called from any other thread while
// run() executes.
class Task {
 public:
  virtual ~Task() = default;
  virtual void run() = 0;
  virtual void stop() = 0;
  // Periods completed so far; 0 before the first.
  virtual std::int64_t get_done_count() const = 0;
};

}  // namespace corvex
