#include "recorder.h"

namespace varnok::tessaly {

Recorder::Recorder(std::unique_ptr<Historian> historian, std::chrono::milliseconds retry_interval, Say say)
    : historian_(std::move(historian)), retry_interval_(retry_interval), say_(std::move(say)) {}

Recorder::~Recorder() {
  finish();
}

void Recorder::start(std::vector<std::string> node_ids, std::size_t capacity) {
  node_ids_ = std::move(node_ids);
  {
    std::lock_guard lock(mutex_);
    queue_ = PollQueue(capacity);
  }
  thread_ = std::thread([this] { run(); });
}

void Recorder::record(Poll poll) {
  std::lock_guard lock(mutex_);
  const std::size_t dropped = queue_.push(std::move(poll));
  dropped_ += dropped;
  unreported_drops_ += dropped;
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
      lock.unlock();
      std::string failure;
      try {
        historian_->open(node_ids_);
      } catch (const std::exception& e) {
        failure = e.what();
        if (failure.empty()) failure = "unknown failure";
      }
      lock.lock();
      if (!failure.empty()) {
        pause_recording(failure);
        continue;
      }
      connected_ = true;
      if (paused_) {
        paused_ = false;
        resumed_ = true;
        say_("数据库已重新连接，恢复记录");
      }
      continue;
    }
    if (queue_.waiting() == 0) {
      wake_.wait(lock, [this] { return stopping_ || queue_.waiting() > 0; });
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
      const std::size_t dropped = queue_.give_back(std::move(batch));
      dropped_ += dropped;
      unreported_drops_ += dropped;
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
