#include "gateway_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "gateway_client.h"

namespace corvex {
namespace {

// As opcsim reads the same file: one line of printable ASCII, the bound
// keeping the metadata small.
constexpr std::size_t kMaxTokenLength = 1024;

GatewayError bad_file(const std::string& file, const std::string& why) {
  return GatewayError(GatewayError::Kind::kInvalid,
                      std::string(kGatewayTokenFileVariable) + ": gateway token file " + file + " " + why);
}

std::string error_text(int error) {
  return std::generic_category().message(error);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The text up to the first line break, reading no more than the token may
// be long plus its blanks.
std::string first_line(int fd, const std::string& file) {
  std::string text;
  char buffer[512];
  while (text.find('\n') == std::string::npos && text.size() <= 2 * kMaxTokenLength) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw bad_file(file, "cannot be read: " + error_text(errno));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

std::string trimmed(const std::string& text) {
  constexpr const char* kBlanks = " \t\r\v\f";
  const auto begin = text.find_first_not_of(kBlanks);
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::string read_token(const std::string& file) {
  // Non-blocking, so that a FIFO named by mistake cannot hang the caller.
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    const int error = errno;
    throw bad_file(file, error == ENOENT ? "does not exist" : "cannot be opened: " + error_text(error));
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw bad_file(file, "cannot be read: " + error_text(errno));
  if (!S_ISREG(info.st_mode)) throw bad_file(file, "is not a regular file");
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 0777));
    throw bad_file(file, "is open to group or others (mode " + std::string(mode) + "); chmod 600 " + file);
  }
  const std::string token = trimmed(first_line(fd.get(), file));
  if (token.empty()) throw bad_file(file, "has an empty first line; it must hold the token");
  if (token.size() > kMaxTokenLength) {
    throw bad_file(file, "holds a token longer than " + std::to_string(kMaxTokenLength) + " characters");
  }
  for (const char c : token) {
    if (c < 0x20 || c > 0x7e)
      throw bad_file(file, "holds a token with characters other than printable ASCII");
  }
  return token;
}

}  // namespace

std::optional<std::string> gateway_token_from_environment() {
  const char* file = std::getenv(kGatewayTokenFileVariable);
  if (file == nullptr || *file == '\0') return std::nullopt;
  return read_token(file);
}

}  // namespace corvex
