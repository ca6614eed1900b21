#pragma once

// Log lines of one library instance: standard error, one line per event,
// filtered by level.

#include <atomic>
#include <string>

namespace hublet {

class Logger {
 public:
  void set_level(int level) { level_.store(level); }
  bool enabled(int level) const { return level >= level_.load(); }

  // printf-style; the line is written in one piece so that lines of
  // different threads do not mix.
  void log(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

 private:
  std::atomic<int> level_{3};  // HUBLET_LOG_LEVEL_WARN
};

}  // namespace hublet

#define HUBLET_LOG(logger, level, ...)                             \
  do {                                                             \
    if ((logger).enabled(level)) (logger).log(level, __VA_ARGS__); \
  } while (false)
