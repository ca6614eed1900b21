#include "first_cycle_watch.h"

namespace varnok::velmora {

FirstCycleWatch::FirstCycleWatch(std::chrono::milliseconds interval, std::chrono::milliseconds limit,
                                 QObject* parent)
    : QObject(parent), limit_(limit) {
  timer_.setInterval(static_cast<int>(interval.count()));
  connect(&timer_, &QTimer::timeout, this, &FirstCycleWatch::poll);
}

void FirstCycleWatch::watch(std::shared_ptr<corvex::Task> task) {
  task_ = std::move(task);
  last_cause_ = {};
  current_cause_ = {};
  elapsed_.start();
  timer_.start();
}

void FirstCycleWatch::cancel() {
  timer_.stop();
  task_.reset();
}

void FirstCycleWatch::poll() {
  if (!task_) return;
  if (task_->get_done_count() > 0) {
    cancel();
    emit reached();
    return;
  }
  // A cause once seen stays the last one until the task names another.
  current_cause_ = task_->waiting();
  if (current_cause_.cause != corvex::Task::Waiting::Cause::kNone) last_cause_ = current_cause_;
  if (elapsed_.elapsed() >= limit_.count()) {
    cancel();
    emit timed_out();
  } else {
    emit waiting(elapsed_.elapsed());
  }
}

}  // namespace varnok::velmora
