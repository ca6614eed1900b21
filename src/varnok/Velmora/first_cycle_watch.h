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
// cancel() comes first.
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

 signals:
  void reached();
  void timed_out();

 private:
  void poll();

  std::chrono::milliseconds limit_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  std::shared_ptr<corvex::Task> task_;
};

}  // namespace varnok::velmora
