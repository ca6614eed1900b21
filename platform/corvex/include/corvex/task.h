#pragma once

#include <cstdint>
#include <string>

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

  // Why no period runs at the moment, as far as the task knows.
  struct Waiting {
    enum class Cause { kNone, kGroupHeld, kGatewayUnreachable };
    Cause cause = Cause::kNone;
    std::string text;  // the gateway's own words, naming the group's holder or the address
  };
  virtual Waiting waiting() const { return {}; }
};

}  // namespace corvex
