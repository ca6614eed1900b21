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
  } else if (elapsed_.elapsed() >= limit_.count()) {
    cancel();
    emit timed_out();
  }
}

}  // namespace varnok::velmora
