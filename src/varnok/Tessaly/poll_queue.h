#pragma once

// The polls waiting to be recorded while the database is slow or away.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace varnok::tessaly {

// One poll's numbers: values[i] was read from node nodes[i] (an index into
// the session's node list) at read_at, the system clock when the read came
// back. Nodes with a bad status or no number are left out.
struct Poll {
  std::chrono::system_clock::time_point read_at{};
  std::vector<std::uint32_t> nodes;
  std::vector<double> values;

  bool operator==(const Poll&) const = default;
};

// How many polls the recorder keeps while the database is away: an hour of
// polls at the period, at least 3600, but never more than kMaxQueuedValues
// values of `nodes` nodes (at least one poll).
inline constexpr std::size_t kMaxQueuedValues = 4'000'000;  // 12 bytes each: about 50 MB
std::size_t queue_capacity(std::chrono::milliseconds period, std::size_t nodes);

// A bounded first-in first-out queue of polls. When it is full, a new poll
// pushes the oldest one out, which counts as dropped. A batch taken for
// writing is held beside the waiting polls until it is done or given back
// (so at most half the capacity more); given back, it returns to the front
// in its order and the oldest polls beyond the bound are dropped.
class PollQueue final {
 public:
  explicit PollQueue(std::size_t capacity);

  // Adds `poll` at the back; returns how many polls were dropped for it.
  std::size_t push(Poll poll);

  // Moves the oldest polls out, as many as hold max_values values together
  // but at least one, no more than max_polls and no more than half the
  // capacity (so that new polls still fit while these are written). Empty
  // when nothing waits. Only one batch may be out at a time.
  std::vector<Poll> take(std::size_t max_polls, std::size_t max_values);
  // The batch taken was written.
  void done() noexcept { taken_ = 0; }
  // The batch taken was not written: back to the front. Returns how many of
  // the oldest polls no longer fit and were dropped.
  std::size_t give_back(std::vector<Poll> batch);

  // A new bound, for polls of more nodes; returns how many of the oldest
  // polls waiting no longer fit and were dropped.
  std::size_t set_capacity(std::size_t capacity);

  std::size_t waiting() const noexcept { return polls_.size(); }
  std::size_t taken() const noexcept { return taken_; }
  std::size_t capacity() const noexcept { return capacity_; }

 private:
  std::size_t drop_oldest_beyond(std::size_t limit);

  std::deque<Poll> polls_;
  std::size_t capacity_;
  std::size_t taken_ = 0;
};

}  // namespace varnok::tessaly
