#pragma once

// A historian whose database the test switches on and off, or makes hang,
// and which keeps every batch it was given, the nodes registered, and how
// many values it took of nodes not registered (a real one skips those).

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "historian.h"

namespace varnok::tessaly::testing {

class FakeDatabase {
 public:
  void set_up(bool up) {
    std::lock_guard lock(mutex_);
    up_ = up;
  }
  // Writes wait until released or interrupted.
  void set_hanging(bool hanging) {
    std::lock_guard lock(mutex_);
    hanging_ = hanging;
    changed_.notify_all();
  }
  // The next write fails as a lost connection would.
  void lose_next_write() {
    std::lock_guard lock(mutex_);
    lose_next_ = true;
  }
  std::vector<std::vector<Poll>> batches() const {
    std::lock_guard lock(mutex_);
    return batches_;
  }
  std::vector<Poll> written() const {
    std::vector<Poll> all;
    for (const auto& batch : batches()) all.insert(all.end(), batch.begin(), batch.end());
    return all;
  }
  int opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
  }
  // Every open() and add(), with the nodes it registered.
  std::vector<std::vector<std::string>> registrations() const {
    std::lock_guard lock(mutex_);
    return registrations_;
  }
  int unregistered_values() const {
    std::lock_guard lock(mutex_);
    return unregistered_;
  }
  // add() fails as a lost connection would, while set.
  void set_add_failing(bool failing) {
    std::lock_guard lock(mutex_);
    add_failing_ = failing;
  }

 private:
  friend class FakeHistorian;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool up_ = true;
  bool hanging_ = false;
  bool lose_next_ = false;
  bool add_failing_ = false;
  bool interrupted_ = false;
  int opens_ = 0;
  int unregistered_ = 0;
  std::vector<std::vector<Poll>> batches_;
  std::vector<std::vector<std::string>> registrations_;
};

class FakeHistorian final : public Historian {
 public:
  explicit FakeHistorian(FakeDatabase& db) : db_(db) {}

  void open(const std::vector<std::string>& node_ids) override {
    std::lock_guard lock(db_.mutex_);
    ++db_.opens_;
    if (db_.interrupted_) throw std::runtime_error("interrupted");
    if (!db_.up_) throw std::runtime_error("database down");
    open_ = true;
    known_ = node_ids.size();
    db_.registrations_.push_back(node_ids);
  }
  void add(const std::vector<std::string>& node_ids) override {
    std::lock_guard lock(db_.mutex_);
    if (!open_ || db_.interrupted_ || !db_.up_ || db_.add_failing_) {
      open_ = false;
      throw std::runtime_error("connection lost while registering");
    }
    known_ += node_ids.size();
    db_.registrations_.push_back(node_ids);
  }
  tsdbpy::Result write(std::span<const Poll> polls) override {
    std::unique_lock lock(db_.mutex_);
    db_.changed_.wait(lock, [this] { return !db_.hanging_ || db_.interrupted_; });
    if (!open_ || db_.interrupted_ || !db_.up_ || db_.lose_next_) {
      db_.lose_next_ = false;
      open_ = false;
      return {false, db_.interrupted_ ? "interrupted" : "connection lost"};
    }
    for (const Poll& poll : polls) {
      db_.unregistered_ += static_cast<int>(std::count_if(poll.nodes.begin(), poll.nodes.end(),
                                                          [this](std::uint32_t n) { return n >= known_; }));
    }
    db_.batches_.emplace_back(polls.begin(), polls.end());
    return {true, {}};
  }
  void close() noexcept override { open_ = false; }
  void interrupt() noexcept override {
    std::lock_guard lock(db_.mutex_);
    db_.interrupted_ = true;
    db_.changed_.notify_all();
  }

 private:
  FakeDatabase& db_;
  bool open_ = false;      // the recorder's thread only
  std::size_t known_ = 0;  // nodes registered since open()
};

}  // namespace varnok::tessaly::testing
