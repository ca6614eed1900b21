#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

#include "corvex/task.h"

namespace varnok::velmora {

// Waits, without blocking the GUI thread, for a task's first completed
// cycle: polls get_done_count() every `interval` and gives up after `limit`.
// Emits exactly one of reached() and timed_out() per watch(), unless
// cancel() comes first; before that, waiting() after every poll that found
// no cycle yet, with the task's current cause.
class FirstCycleWatch final : public QObject {
  Q_OBJECT

 public:
  FirstCycleWatch(std::chrono::milliseconds interval, std::chrono::milliseconds limit,
                  QObject* parent = nullptr);

  // Starts watching `task`, replacing any earlier watch.
  void watch(std::shared_ptr<corvex::Task> task);
  void cancel();
  bool active() const noexcept { return task_ != nullptr; }
  std::chrono::milliseconds limit() const noexcept { return limit_; }
  // The last cause the task gave while this watch ran; kept after timed_out()
  // so that the final message can name it.
  const corvex::Task::Waiting& last_cause() const noexcept { return last_cause_; }
  // What the task said at the last poll.
  const corvex::Task::Waiting& current_cause() const noexcept { return current_cause_; }

 signals:
  void reached();
  void timed_out();
  void waiting(qint64 elapsed_ms);

 private:
  void poll();

  std::chrono::milliseconds limit_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  std::shared_ptr<corvex::Task> task_;
  corvex::Task::Waiting last_cause_;
  corvex::Task::Waiting current_cause_;
};

}  // namespace varnok::velmora
