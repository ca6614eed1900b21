#include "netio/tcp_connect.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "netio/wait.h"

namespace netio {

namespace {

void append(std::string& error, const std::string& what) {
  error += (error.empty() ? "" : "; ") + what;
}

}  // namespace

std::string Address::text() const {
  char host[INET6_ADDRSTRLEN] = "?";
  char out[INET6_ADDRSTRLEN + 16];
  if (storage.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    std::snprintf(out, sizeof out, "[%s]:%u", host, static_cast<unsigned>(ntohs(a->sin6_port)));
  } else {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
    std::snprintf(out, sizeof out, "%s:%u", host, static_cast<unsigned>(ntohs(a->sin_port)));
  }
  return out;
}

bool resolve(const std::string& host, int port, int family, std::vector<Address>& out, std::string& error) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    // EAI_SYSTEM leaves the reason in errno; gai_strerror would say only "System error".
    error =
        "cannot resolve host " + host + ": " + (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
    return false;
  }
  out.clear();
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Address a;
    std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
    a.length = ai->ai_addrlen;
    out.push_back(a);
  }
  ::freeaddrinfo(list);
  if (out.empty()) {
    error = "cannot resolve host " + host + ": no address to connect to";
    return false;
  }
  return true;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

void UniqueFd::reset() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Connection connect_any(const std::vector<Address>& addresses, Clock::time_point deadline, int interrupt_fd) {
  Connection result;
  if (addresses.empty()) result.error = "no address";
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const Address& a = addresses[i];
    if (interrupted(interrupt_fd)) {
      result.interrupted = true;
      append(result.error, a.text() + ": interrupted");
      break;
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      result.timed_out = true;
      append(result.error, a.text() + ": no time left");
      break;
    }
    const auto attempt_deadline = Clock::now() + left / static_cast<int>(addresses.size() - i);
    UniqueFd candidate(::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!candidate) {
      append(result.error, a.text() + ": " + std::strerror(errno));
      continue;
    }
    int err = 0;
    if (::connect(candidate.get(), reinterpret_cast<const sockaddr*>(&a.storage), a.length) != 0) err = errno;
    if (err == EINPROGRESS) {
      const Wait ready = wait_ready(candidate.get(), POLLOUT, attempt_deadline, interrupt_fd);
      if (ready == Wait::kInterrupted) {
        result.interrupted = true;
        append(result.error, a.text() + ": interrupted");
        break;
      }
      if (ready == Wait::kTimedOut) {
        result.timed_out = true;
        append(result.error, a.text() + ": connect timed out");
        continue;
      }
      socklen_t len = sizeof err;
      if (ready == Wait::kFailed || ::getsockopt(candidate.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    }
    if (err != 0) {
      result.timed_out = false;
      append(result.error, a.text() + ": " + std::strerror(err));
      continue;
    }
    result.socket = std::move(candidate);
    result.timed_out = false;
    result.error.clear();
    return result;
  }
  return result;
}

Connection connect_host(const std::string& host, int port, Clock::time_point deadline, int family,
                        int interrupt_fd) {
  std::vector<Address> addresses;
  Connection result;
  if (!resolve(host, port, family, addresses, result.error)) return result;
  return connect_any(addresses, deadline, interrupt_fd);
}

}  // namespace netio
