#include "log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace hublet {

void Logger::log(int level, const char* format, ...) const {
  static constexpr const char* kNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
  const char* name = level >= 0 && level < 5 ? kNames[level] : "LOG";
  char line[1024];
  int n = std::snprintf(line, sizeof line, "hublet: %s: ", name);
  va_list args;
  va_start(args, format);
  const int body = std::vsnprintf(line + n, sizeof line - static_cast<std::size_t>(n) - 1, format, args);
  va_end(args);
  n += body < 0 ? 0 : body;
  if (n > static_cast<int>(sizeof line) - 2) n = static_cast<int>(sizeof line) - 2;  // cut long lines
  line[n++] = '\n';
  // One write(2) per line.
  ssize_t ignored = ::write(STDERR_FILENO, line, static_cast<std::size_t>(n));
  (void)ignored;
}

}  // namespace hublet
