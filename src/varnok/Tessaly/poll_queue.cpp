#include "poll_queue.h"

#include <algorithm>
#include <iterator>

namespace varnok::tessaly {

std::size_t queue_capacity(std::chrono::milliseconds period, std::size_t nodes) {
  constexpr std::size_t kAtLeast = 3600;
  const auto hour = std::chrono::milliseconds(std::chrono::hours(1));
  const std::size_t per_hour =
      period.count() <= 0 ? kAtLeast
                          : static_cast<std::size_t>((hour + period - std::chrono::milliseconds(1)) / period);
  const std::size_t by_values = std::max<std::size_t>(1, kMaxQueuedValues / std::max<std::size_t>(1, nodes));
  return std::min(std::max(kAtLeast, per_hour), by_values);
}

PollQueue::PollQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(1, capacity)) {}

std::size_t PollQueue::drop_oldest_beyond(std::size_t limit) {
  std::size_t dropped = 0;
  while (!polls_.empty() && polls_.size() > limit) {
    polls_.pop_front();
    ++dropped;
  }
  return dropped;
}

std::size_t PollQueue::push(Poll poll) {
  const std::size_t dropped = drop_oldest_beyond(capacity_ - 1);
  polls_.push_back(std::move(poll));
  return dropped;
}

std::vector<Poll> PollQueue::take(std::size_t max_polls, std::size_t max_values) {
  std::vector<Poll> batch;
  const std::size_t limit = std::min(max_polls, std::max<std::size_t>(1, capacity_ / 2));
  std::size_t values = 0;
  while (!polls_.empty() && batch.size() < limit) {
    const std::size_t next = polls_.front().values.size();
    if (!batch.empty() && values + next > max_values) break;
    values += next;
    batch.push_back(std::move(polls_.front()));
    polls_.pop_front();
  }
  taken_ = batch.size();
  return batch;
}

std::size_t PollQueue::set_capacity(std::size_t capacity) {
  capacity_ = std::max<std::size_t>(1, capacity);
  return drop_oldest_beyond(capacity_);
}

std::size_t PollQueue::give_back(std::vector<Poll> batch) {
  taken_ = 0;
  polls_.insert(polls_.begin(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
  return drop_oldest_beyond(capacity_);
}

}  // namespace varnok::tessaly
