#include "corvex/messages.h"

#include <iostream>
#include <mutex>
#include <utility>

namespace corvex {

namespace {

struct Channel {
  std::mutex mutex;
  MessageSink sink;
};

Channel& channel() {
  static Channel instance;
  return instance;
}

}  // namespace

void set_message_sink(MessageSink sink) {
  Channel& c = channel();
  const std::lock_guard lock(c.mutex);
  c.sink = std::move(sink);
}

void report(const std::string& line) {
  Channel& c = channel();
  const std::lock_guard lock(c.mutex);
  if (c.sink) {
    c.sink(line);
  } else {
    std::cout << line << std::endl;
  }
}

}  // namespace corvex
