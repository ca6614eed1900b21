#pragma once

// Files that hold a secret (a password, a token), read once at start. Only a
// regular file that its owner alone may read or write is taken: a secret
// others can read is no secret, and it is better said at start than found
// out later.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "varnok/errors.h"

namespace varnok {

// The first line of `file`, without its line break or a CR before it. Throws
// UsageError starting with `what` (which names the file) when the file is
// missing, unreadable, not a regular file, open to group or others, or its
// first line is empty or longer than `max_length` bytes; `expected` says
// what the line should hold.
inline std::string first_line_of_private_file(const std::string& file, const std::string& what,
                                              std::string_view expected, std::size_t max_length = 1024) {
  // Non-blocking, so that a FIFO named by mistake cannot hang the start.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) throw UsageError(what + " does not exist");
    throw UsageError(what + " cannot be opened: " + std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // The checks look at the file that was opened, not at the name again.
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw UsageError(what + " cannot be read: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw UsageError(what + " is not a regular file");
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    throw UsageError(what + " is open to group or others (mode " + mode + "); chmod 600 " + file);
  }
  std::string line;
  char buffer[256];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw UsageError(what + " cannot be read: " + std::strerror(errno));
    const std::string_view chunk(buffer, static_cast<std::size_t>(n));
    const auto end = chunk.find('\n');
    line.append(chunk.substr(0, end));
    if (n == 0 || end != std::string_view::npos || line.size() > max_length + 1) break;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::string expecting = " (expected " + std::string(expected) + ")";
  if (line.size() > max_length) {
    throw UsageError(what + ": the first line is longer than " + std::to_string(max_length) + " characters" +
                     expecting);
  }
  if (line.empty()) throw UsageError(what + ": the first line is empty" + expecting);
  return line;
}

}  // namespace varnok
