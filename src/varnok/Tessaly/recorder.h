#pragma once

// Store and forward: polls go into a bounded queue at once, and the
// recorder's own thread writes them to the historian in order, each with
// its own time stamp. While the database is away, refused or silent, the
// polls wait (up to the queue's bound, beyond which the oldest are dropped
// and counted); when it is back, the backlog goes in batches of many polls.
//
// Lines, through the Say given: one when recording pauses,
// "数据库连接失败，暂停记录: <why>"; one when it resumes, "数据库已重新连接，
// 恢复记录"; and once per outage that overflowed the queue, when recording
// resumes (or stops), how many polls were dropped. A new connection is
// tried at most every retry_interval.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "historian.h"
#include "poll_queue.h"

namespace varnok::tessaly {

struct RecorderCounts {
  std::uint64_t recorded = 0;  // polls written
  std::size_t queued = 0;      // polls not written (yet)
  std::uint64_t dropped = 0;   // polls pushed out of a full queue
  // Why the database took nothing lately: its latest failure, until a write
  // succeeds again; failures caused by stopping do not count.
  std::string failure;

  bool operator==(const RecorderCounts&) const = default;
};

class Recorder final {
 public:
  using Clock = std::chrono::steady_clock;
  using Say = std::function<void(const std::string&)>;

  // Values per statement, and polls per statement, when writing a backlog.
  static constexpr std::size_t kBatchValues = 10000;
  static constexpr std::size_t kBatchPolls = 500;

  // `say` takes the status lines; it is called on the recorder's thread.
  Recorder(std::unique_ptr<Historian> historian, std::chrono::milliseconds retry_interval, Say say);
  ~Recorder();  // stops at once (no draining) and joins
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Starts the thread: connects, registers the nodes, then writes every
  // poll handed over, keeping at most `capacity` polls. Call once, before
  // the first record().
  void start(std::vector<std::string> node_ids, std::size_t capacity);

  // Nodes found after start(), following those known (a poll refers to
  // them by place); registered with the historian before any poll handed
  // over after this call is written. The queue's bound becomes `capacity`.
  // From the polling thread, after start(); never waits on the database.
  void add(std::vector<std::string> node_ids, std::size_t capacity);

  // From the polling thread; never waits on the database.
  void record(Poll poll);

  // Asks the thread to end: unless the database has failed, it goes on
  // writing what is queued until `drain_deadline`. From any thread; returns
  // at once.
  void request_stop(Clock::time_point drain_deadline);
  // Ends a database call in progress at once, and every later one; the
  // thread then ends. From any thread; returns at once.
  void interrupt() noexcept;
  // Waits for the thread until the drain deadline (now, when no stop was
  // requested), then interrupts what is left and joins.
  void finish();

  RecorderCounts counts() const;

 private:
  void run();
  bool should_end() const;  // mutex_ held
  void pause_recording(const std::string& why);
  void report_drops();
  void count_drops(std::size_t dropped);  // mutex_ held

  std::unique_ptr<Historian> historian_;
  const std::chrono::milliseconds retry_interval_;
  const Say say_;

  mutable std::mutex mutex_;           // guards everything below
  std::vector<std::string> node_ids_;  // append-only
  std::size_t registered_ = 0;         // the historian's nodes: the first ones, while connected
  std::condition_variable wake_;
  std::condition_variable ended_;
  PollQueue queue_{1};
  bool stopping_ = false;
  bool ended_flag_ = false;
  Clock::time_point drain_deadline_{};
  bool connected_ = false;
  bool paused_ = false;   // recording paused after a failure
  bool resumed_ = false;  // reconnected, no batch written since
  Clock::time_point next_attempt_{};
  std::uint64_t recorded_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t unreported_drops_ = 0;
  std::string failure_;

  std::thread thread_;  // last: started after everything it uses
};

}  // namespace varnok::tessaly
