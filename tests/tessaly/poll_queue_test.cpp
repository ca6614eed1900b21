#include "poll_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;

// Poll number n: n values, all n, read at n seconds.
Poll poll(int n, int values = 1) {
  return Poll{std::chrono::system_clock::time_point(std::chrono::seconds(n)),
              std::vector<std::uint32_t>(static_cast<std::size_t>(values), 0),
              std::vector<double>(static_cast<std::size_t>(values), n)};
}

std::vector<int> numbers(const std::vector<Poll>& polls) {
  std::vector<int> out;
  for (const Poll& p : polls) out.push_back(static_cast<int>(p.values.front()));
  return out;
}

std::vector<int> drain(PollQueue& queue) {
  std::vector<Poll> all;
  while (queue.waiting() > 0) {
    auto batch = queue.take(1000, 1000000);
    queue.done();
    all.insert(all.end(), batch.begin(), batch.end());
  }
  return numbers(all);
}

TEST(PollQueue, KeepsOrderAndPushesOutTheOldestWhenFull) {
  struct Case {
    std::size_t capacity;
    int pushed;
    std::size_t dropped;
    std::vector<int> kept;
  };
  for (const Case& c : {Case{5, 3, 0, {0, 1, 2}}, Case{5, 5, 0, {0, 1, 2, 3, 4}},
                        Case{5, 8, 3, {3, 4, 5, 6, 7}}, Case{1, 4, 3, {3}}}) {
    PollQueue queue(c.capacity);
    std::size_t dropped = 0;
    for (int n = 0; n < c.pushed; ++n) dropped += queue.push(poll(n));
    EXPECT_EQ(dropped, c.dropped) << "capacity " << c.capacity << ", " << c.pushed << " pushed";
    EXPECT_EQ(drain(queue), c.kept) << "capacity " << c.capacity << ", " << c.pushed << " pushed";
  }
}

TEST(PollQueue, BatchesHoldWholePollsUpToTheValueLimitAndAtMostHalfTheQueue) {
  struct Case {
    std::size_t capacity;
    std::size_t max_polls;
    std::size_t max_values;
    std::vector<int> first_batch;
  };
  // Polls 0..9 of 3 values each.
  for (const Case& c :
       {Case{100, 100, 9, {0, 1, 2}}, Case{100, 100, 10, {0, 1, 2}}, Case{100, 2, 1000, {0, 1}},
        Case{100, 100, 1, {0}},  // at least one poll, however large
        Case{6, 100, 1000, {0, 1, 2}}}) {
    PollQueue queue(c.capacity);
    for (int n = 0; n < 10 && n < static_cast<int>(c.capacity); ++n) queue.push(poll(n, 3));
    EXPECT_EQ(numbers(queue.take(c.max_polls, c.max_values)), c.first_batch)
        << "capacity " << c.capacity << ", at most " << c.max_polls << " polls, " << c.max_values
        << " values";
  }
}

TEST(PollQueue, ABatchGivenBackReturnsToTheFrontAndTheOldestBeyondTheBoundAreDropped) {
  PollQueue queue(6);
  for (int n = 0; n < 6; ++n) queue.push(poll(n));
  auto batch = queue.take(3, 100);
  EXPECT_EQ(numbers(batch), (std::vector<int>{0, 1, 2}));
  // While the batch is out, new polls take its room; given back, it is the
  // oldest, so it is what no longer fits.
  EXPECT_EQ(queue.push(poll(6)), 0u);
  EXPECT_EQ(queue.push(poll(7)), 0u);
  EXPECT_EQ(queue.give_back(std::move(batch)), 2u);
  EXPECT_EQ(drain(queue), (std::vector<int>{2, 3, 4, 5, 6, 7}));
}

TEST(QueueCapacity, HoldsAnHourOfPollsAtThePeriodWithinTheMemoryBound) {
  // Fractor's 50 tags polled every second, the drills' 200 ms recorder, a
  // fast recorder that meets the value bound, and a huge group.
  EXPECT_EQ(queue_capacity(1000ms, 50), 3600u);
  EXPECT_EQ(queue_capacity(200ms, 30), 18000u);
  EXPECT_EQ(queue_capacity(60000ms, 30), 3600u);
  EXPECT_EQ(queue_capacity(10ms, 50), kMaxQueuedValues / 50);
  EXPECT_EQ(queue_capacity(1000ms, 10 * kMaxQueuedValues), 1u);
}

}  // namespace
}  // namespace varnok::tessaly
