#include "recorder.h"

#include <iterator>

namespace varnok::tessaly {

namespace {

// Why `call` failed; empty when it did not.
template <typename Call>
std::string attempt(Call call) {
  try {
    call();
    return {};
  } catch (const std::exception& e) {
    const std::string why = e.what();
    return why.empty() ? "unknown failure" : why;
  }
}

}  // namespace

Recorder::Recorder(std::unique_ptr<Historian> historian, std::chrono::milliseconds retry_interval, Say say)
    : historian_(std::move(historian)), retry_interval_(retry_interval), say_(std::move(say)) {}

Recorder::~Recorder() {
  finish();
}

void Recorder::start(std::vector<std::string> node_ids, std::size_t capacity) {
  {
    std::lock_guard lock(mutex_);
    node_ids_ = std::move(node_ids);
    queue_ = PollQueue(capacity);
  }
  thread_ = std::thread([this] { run(); });
}

void Recorder::count_drops(std::size_t dropped) {
  dropped_ += dropped;
  unreported_drops_ += dropped;
}

void Recorder::add(std::vector<std::string> node_ids, std::size_t capacity) {
  std::lock_guard lock(mutex_);
  node_ids_.insert(node_ids_.end(), std::make_move_iterator(node_ids.begin()),
                   std::make_move_iterator(node_ids.end()));
  count_drops(queue_.set_capacity(capacity));
  wake_.notify_all();
}

void Recorder::record(Poll poll) {
  std::lock_guard lock(mutex_);
  count_drops(queue_.push(std::move(poll)));
  wake_.notify_all();
}

void Recorder::request_stop(Clock::time_point drain_deadline) {
  std::lock_guard lock(mutex_);
  if (!stopping_) {
    stopping_ = true;
    drain_deadline_ = drain_deadline;
  }
  wake_.notify_all();
}

void Recorder::interrupt() noexcept {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) drain_deadline_ = Clock::now();
    stopping_ = true;
    wake_.notify_all();
  }
  historian_->interrupt();
}

void Recorder::finish() {
  if (!thread_.joinable()) return;
  bool ended = false;
  {
    std::unique_lock lock(mutex_);
    if (!stopping_) {
      stopping_ = true;
      drain_deadline_ = Clock::now();
    }
    wake_.notify_all();
    ended = ended_.wait_until(lock, drain_deadline_, [this] { return ended_flag_; });
  }
  if (!ended) historian_->interrupt();  // a write or connect still in progress
  thread_.join();
}

RecorderCounts Recorder::counts() const {
  std::lock_guard lock(mutex_);
  return {recorded_, queue_.waiting() + queue_.taken(), dropped_, failure_};
}

bool Recorder::should_end() const {
  // A database that failed is not waited for; one not tried yet is tried.
  return stopping_ && (paused_ || queue_.waiting() == 0 || Clock::now() >= drain_deadline_);
}

void Recorder::pause_recording(const std::string& why) {
  connected_ = false;
  next_attempt_ = Clock::now() + retry_interval_;
  // Failures caused by stopping are no news.
  if (!stopping_) {
    if (!paused_) say_("数据库连接失败，暂停记录: " + why);
    failure_ = why;
  }
  paused_ = true;
}

void Recorder::report_drops() {
  if (unreported_drops_ == 0) return;
  say_("记录队列已满，数据库不可用期间丢弃了最早的 " + std::to_string(unreported_drops_) + " 次轮询");
  unreported_drops_ = 0;
}

void Recorder::run() {
  std::unique_lock lock(mutex_);
  while (!should_end()) {
    if (!connected_) {
      if (Clock::now() < next_attempt_) {
        wake_.wait_until(lock, next_attempt_, [this] { return stopping_; });
        continue;
      }
      const std::vector<std::string> nodes = node_ids_;
      lock.unlock();
      const std::string failure = attempt([&] { historian_->open(nodes); });
      lock.lock();
      if (!failure.empty()) {
        pause_recording(failure);
        continue;
      }
      connected_ = true;
      registered_ = nodes.size();
      if (paused_) {
        paused_ = false;
        resumed_ = true;
        say_("数据库已重新连接，恢复记录");
      }
      continue;
    }
    if (registered_ < node_ids_.size()) {
      // Before any poll that may hold their values.
      const std::vector<std::string> nodes(node_ids_.begin() + static_cast<std::ptrdiff_t>(registered_),
                                           node_ids_.end());
      lock.unlock();
      const std::string failure = attempt([&] { historian_->add(nodes); });
      lock.lock();
      if (!failure.empty()) {
        pause_recording(failure);
        continue;
      }
      registered_ += nodes.size();
      continue;
    }
    if (queue_.waiting() == 0) {
      wake_.wait(lock,
                 [this] { return stopping_ || queue_.waiting() > 0 || registered_ < node_ids_.size(); });
      continue;
    }
    std::vector<Poll> batch = queue_.take(kBatchPolls, kBatchValues);
    lock.unlock();
    const tsdbpy::Result result = historian_->write(batch);
    lock.lock();
    if (result.ok) {
      queue_.done();
      recorded_ += batch.size();
      failure_.clear();
      if (resumed_) {
        resumed_ = false;
        report_drops();
      }
    } else {
      count_drops(queue_.give_back(std::move(batch)));
      pause_recording(result.error);
    }
  }
  report_drops();
  ended_flag_ = true;
  ended_.notify_all();
  lock.unlock();
  historian_->close();
}

}  // namespace varnok::tessaly
