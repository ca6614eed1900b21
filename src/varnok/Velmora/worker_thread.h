#pragma once

#include <QString>
#include <QThread>
#include <memory>

#include "corvex/task.h"

namespace varnok::velmora {

// Runs one process task's blocking run() on its own thread, between the
// lines "task started." and "task stopped.". A run() that throws ends the
// thread too: the line "task failed: <reason>" replaces "task stopped." and
// task_failed carries the reason (emitted before finished()).
//
// The owner stops the task with task->stop() and then wait()s; the thread
// is never terminated.
class WorkerThread final : public QThread {
  Q_OBJECT

 public:
  WorkerThread(QObject* parent, std::shared_ptr<corvex::Task> task);
  ~WorkerThread() override;

  const std::shared_ptr<corvex::Task> task;

 signals:
  void task_failed(const QString& reason);

 protected:
  void run() override;
};

}  // namespace varnok::velmora
