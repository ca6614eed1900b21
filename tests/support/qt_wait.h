#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace varnok::testing {

// Processes events until done() or the time limit; queued signals from
// worker threads are delivered meanwhile.
template <typename Predicate>
bool qt_wait_until(Predicate done, int limit_ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace varnok::testing
