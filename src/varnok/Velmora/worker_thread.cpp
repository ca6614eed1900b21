#include "worker_thread.h"

#include <iostream>
#include <stdexcept>

namespace varnok::velmora {

WorkerThread::WorkerThread(QObject* parent, std::shared_ptr<corvex::Task> task_to_run)
    : QThread(parent), task(std::move(task_to_run)) {
  if (!task) throw std::invalid_argument("WorkerThread: no task");
}

WorkerThread::~WorkerThread() {
  // Last line of defence: an owner that forgot to stop must not leave a
  // thread running into a destroyed object.
  if (isRunning()) {
    task->stop();
    wait();
  }
}

void WorkerThread::run() {
  std::cout << "task started." << std::endl;
  QString failure;
  try {
    task->run();
  } catch (const std::exception& e) {
    failure = QString::fromStdString(e.what());
  } catch (...) {
    failure = QStringLiteral("unknown failure");
  }
  if (failure.isNull()) {
    std::cout << "task stopped." << std::endl;
    return;
  }
  if (failure.isEmpty()) failure = QStringLiteral("unknown failure");
  std::cout << "task failed: " << failure.toStdString() << std::endl;
  emit task_failed(failure);
}

}  // namespace varnok::velmora
