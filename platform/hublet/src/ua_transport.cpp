#include "ua_transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "netio/wait.h"

namespace hublet::ua {

namespace {

struct TypeName {
  MessageType type;
  char name[4];
};
constexpr TypeName kTypeNames[] = {
    {MessageType::kHello, "HEL"},        {MessageType::kAcknowledge, "ACK"}, {MessageType::kError, "ERR"},
    {MessageType::kReverseHello, "RHE"}, {MessageType::kMessage, "MSG"},     {MessageType::kOpen, "OPN"},
    {MessageType::kClose, "CLO"},
};

}  // namespace

// --- endpoints and addresses ----------------------------------------------

bool parse_endpoint(const std::string& url, Endpoint& out) {
  static constexpr std::string_view kScheme = "opc.tcp://";
  if (url.size() <= kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  }
  std::string_view rest(url);
  rest.remove_prefix(kScheme.size());
  rest = rest.substr(0, rest.find('/'));
  Endpoint e;
  std::string_view port_text;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return false;
    e.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port_text = rest.substr(1);
      if (port_text.empty()) return false;
    }
  } else {
    const auto colon = rest.find(':');
    e.host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) {
      port_text = rest.substr(colon + 1);
      if (port_text.empty()) return false;
    }
  }
  if (e.host.empty()) return false;
  for (char c : e.host) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '@' || c == '?' || c == '#') return false;
  }
  if (!port_text.empty()) {
    if (port_text.size() > 5) return false;
    int port = 0;
    for (char c : port_text) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
    e.port = port;
  }
  out = std::move(e);
  return true;
}

std::string Endpoint::text() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

HUBLET_STATUS resolve(const Endpoint& endpoint, std::vector<Address>& out, std::string& error) {
  return netio::resolve(endpoint.host, endpoint.port, AF_UNSPEC, out, error) ? HUBLET_STATUS_GOOD
                                                                             : HUBLET_STATUS_NOT_CONNECTED;
}

// --- socket ---------------------------------------------------------------

HUBLET_STATUS Socket::connect_any(const std::vector<Address>& addresses, Deadline deadline, Socket& out,
                                  std::string& error, int interrupt_fd) {
  netio::Connection connection = netio::connect_any(addresses, deadline, interrupt_fd);
  error = std::move(connection.error);
  if (!connection.socket) {
    if (connection.interrupted) return HUBLET_STATUS_CANCELLED;
    return connection.timed_out ? HUBLET_STATUS_TIMEOUT : HUBLET_STATUS_NOT_CONNECTED;
  }
  const int one = 1;
  ::setsockopt(connection.socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out.fd_ = std::move(connection.socket);
  out.interrupt_fd_ = interrupt_fd;
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS Socket::lost(const std::string& why) {
  error_ = why;
  return HUBLET_STATUS_NOT_CONNECTED;
}

HUBLET_STATUS Socket::wait_ready(short events, Deadline deadline) {
  switch (netio::wait_ready(fd_.get(), events, deadline, interrupt_fd_)) {
    case netio::Wait::kReady:
      return HUBLET_STATUS_GOOD;
    case netio::Wait::kTimedOut:
      return HUBLET_STATUS_TIMEOUT;
    case netio::Wait::kInterrupted:
      return HUBLET_STATUS_CANCELLED;
    case netio::Wait::kFailed:
      break;
  }
  return lost(std::strerror(errno));
}

HUBLET_STATUS Socket::send_all(std::span<const std::uint8_t> bytes, Deadline deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (!fd_) return lost("not connected");
    const ssize_t n = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const HUBLET_STATUS ready = wait_ready(POLLOUT, deadline);
      if (ready != HUBLET_STATUS_GOOD) return ready;
      continue;
    }
    return lost(n < 0 ? std::strerror(errno) : "closed by the server");
  }
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS Socket::receive_some(Bytes& buffer, Deadline deadline) {
  std::uint8_t block[65536];
  for (;;) {
    if (!fd_) return lost("not connected");
    const ssize_t n = ::recv(fd_.get(), block, sizeof block, 0);
    if (n > 0) {
      buffer.insert(buffer.end(), block, block + n);
      return HUBLET_STATUS_GOOD;
    }
    if (n == 0) return lost("closed by the server");
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return lost(std::strerror(errno));
    const HUBLET_STATUS ready = wait_ready(POLLIN, deadline);
    if (ready != HUBLET_STATUS_GOOD) return ready;
  }
}

// --- chunks ---------------------------------------------------------------

HUBLET_STATUS parse_chunk_header(std::span<const std::uint8_t> bytes, ChunkHeader& out) {
  if (bytes.size() < kChunkHeaderSize) return HUBLET_STATUS_BUFFER_TOO_SMALL;
  const TypeName* found = nullptr;
  for (const TypeName& t : kTypeNames) {
    if (std::memcmp(bytes.data(), t.name, 3) == 0) found = &t;
  }
  if (found == nullptr) return HUBLET_STATUS_MALFORMED;
  const char chunk_type = static_cast<char>(bytes[3]);
  const bool secure = found->type == MessageType::kMessage || found->type == MessageType::kOpen ||
                      found->type == MessageType::kClose;
  const bool chunk_ok = chunk_type == 'F' || (secure && (chunk_type == 'C' || chunk_type == 'A'));
  if (!chunk_ok) return HUBLET_STATUS_MALFORMED;
  const std::uint32_t size =
      static_cast<std::uint32_t>(bytes[4]) | (static_cast<std::uint32_t>(bytes[5]) << 8) |
      (static_cast<std::uint32_t>(bytes[6]) << 16) | (static_cast<std::uint32_t>(bytes[7]) << 24);
  if (size < kChunkHeaderSize) return HUBLET_STATUS_MALFORMED;
  out = ChunkHeader{found->type, chunk_type, size};
  return HUBLET_STATUS_GOOD;
}

void write_chunk_header(Writer& w, MessageType type, char chunk_type) {
  for (const TypeName& t : kTypeNames) {
    if (t.type == type) w.raw(t.name, 3);
  }
  w.uint(static_cast<std::uint8_t>(chunk_type));
  w.uint(std::uint32_t{0});
}

Bytes encode_hello(const HelloMessage& hello) {
  Writer w;
  write_chunk_header(w, MessageType::kHello, 'F');
  encode(w, hello);
  w.patch_u32(4, static_cast<std::uint32_t>(w.size()));
  return std::move(w.bytes());
}

HUBLET_STATUS parse_secure_chunk(std::span<const std::uint8_t> chunk, SecureChunk& out) {
  ChunkHeader header;
  const HUBLET_STATUS status = parse_chunk_header(chunk, header);
  if (status != HUBLET_STATUS_GOOD) return status;
  if (header.size != chunk.size()) return HUBLET_STATUS_MALFORMED;
  if (header.type != MessageType::kMessage && header.type != MessageType::kOpen &&
      header.type != MessageType::kClose) {
    return HUBLET_STATUS_MALFORMED;
  }
  Reader r(chunk.subspan(kChunkHeaderSize));
  SecureChunk c;
  c.type = header.type;
  c.chunk_type = header.chunk_type;
  r.uint(c.channel_id);
  if (header.type == MessageType::kOpen) {
    ByteString certificate;
    ByteString thumbprint;
    (void)(decode(r, c.policy_uri) && decode(r, certificate) && decode(r, thumbprint));
  } else {
    r.uint(c.token_id);
  }
  (void)(r.uint(c.sequence_number) && r.uint(c.request_id));
  if (!r.ok()) return r.status();
  c.body = chunk.subspan(chunk.size() - r.remaining());
  out = c;
  return HUBLET_STATUS_GOOD;
}

// --- assembly -------------------------------------------------------------

void MessageAssembler::clear() {
  partial_.clear();
  held_ = 0;
}

HUBLET_STATUS MessageAssembler::add(const SecureChunk& chunk, bool& complete, Message& out) {
  complete = false;
  const auto it = partial_.find(chunk.request_id);
  if (chunk.chunk_type == 'A') {
    if (it != partial_.end()) {
      held_ -= it->second.body.size();
      partial_.erase(it);
    }
    Message m;
    m.type = chunk.type;
    m.request_id = chunk.request_id;
    m.aborted = true;
    const HUBLET_STATUS status = decode_all(chunk.body, m.error);
    if (status != HUBLET_STATUS_GOOD) return HUBLET_STATUS_MALFORMED;
    out = std::move(m);
    complete = true;
    return HUBLET_STATUS_GOOD;
  }
  if (it == partial_.end() && chunk.chunk_type == 'F') {
    // A message in one chunk, the usual case: straight into the caller's
    // buffer, which keeps its capacity from the messages before.
    if (chunk.body.size() > max_message_size_ - std::min<std::size_t>(held_, max_message_size_))
      return HUBLET_STATUS_TOO_LARGE;
    out.type = chunk.type;
    out.request_id = chunk.request_id;
    out.body.assign(chunk.body.begin(), chunk.body.end());
    out.aborted = false;
    out.error = ErrorMessage{};
    complete = true;
    return HUBLET_STATUS_GOOD;
  }
  Partial& p = it != partial_.end() ? it->second : partial_[chunk.request_id];
  if (it == partial_.end()) p.type = chunk.type;
  const auto drop = [&] {
    held_ -= p.body.size();
    partial_.erase(chunk.request_id);
  };
  if (p.type != chunk.type) {
    drop();
    return HUBLET_STATUS_MALFORMED;
  }
  if (chunk.body.size() > max_message_size_ - std::min<std::size_t>(held_, max_message_size_) ||
      (max_chunk_count_ != 0 && p.chunks + 1 > max_chunk_count_)) {
    drop();
    return HUBLET_STATUS_TOO_LARGE;
  }
  p.body.insert(p.body.end(), chunk.body.begin(), chunk.body.end());
  ++p.chunks;
  held_ += chunk.body.size();
  if (chunk.chunk_type != 'F') return HUBLET_STATUS_GOOD;
  Message m;
  m.type = p.type;
  m.request_id = chunk.request_id;
  m.body = std::move(p.body);
  held_ -= m.body.size();
  partial_.erase(chunk.request_id);
  out = std::move(m);
  complete = true;
  return HUBLET_STATUS_GOOD;
}

// --- stream ---------------------------------------------------------------

HUBLET_STATUS ChunkReader::next(Socket& socket, Deadline deadline, std::uint32_t max_chunk_size,
                                Bytes& chunk) {
  for (;;) {
    const std::size_t available = buffer_.size() - start_;
    if (available >= kChunkHeaderSize) {
      ChunkHeader header;
      const HUBLET_STATUS status = parse_chunk_header(
          std::span<const std::uint8_t>(buffer_.data() + start_, kChunkHeaderSize), header);
      if (status != HUBLET_STATUS_GOOD) return status;
      if (header.size > max_chunk_size) return HUBLET_STATUS_TOO_LARGE;
      if (available >= header.size) {
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
        chunk.assign(first, first + header.size);
        start_ += header.size;
        if (start_ == buffer_.size()) clear();
        return HUBLET_STATUS_GOOD;
      }
    }
    if (start_ > 0) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
      start_ = 0;
    }
    const HUBLET_STATUS status = socket.receive_some(buffer_, deadline);
    if (status != HUBLET_STATUS_GOOD) return status;
  }
}

}  // namespace hublet::ua
