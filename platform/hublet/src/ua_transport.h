#pragma once

// UA TCP: endpoint URLs, the socket with deadlines, message chunk headers,
// Hello/Acknowledge/Error, the secure conversation chunk layout, and the
// assembly of multi-chunk messages.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "hublet/status.h"
#include "netio/tcp_connect.h"
#include "ua_binary.h"

namespace hublet::ua {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

struct Endpoint {
  std::string host;  // without brackets
  int port = 4840;
  // "host:port", an IPv6 address in brackets: how messages name the server.
  std::string text() const;
};

// "opc.tcp://host[:port][/path]"; an IPv6 address in brackets. False for
// anything else.
bool parse_endpoint(const std::string& url, Endpoint& out);

using Address = netio::Address;

// Every address the resolver gives for host:port, in its order.
HUBLET_STATUS resolve(const Endpoint& endpoint, std::vector<Address>& out, std::string& error);

class Socket {
 public:
  Socket() = default;
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept = default;
  Socket& operator=(Socket&& other) noexcept = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Tries each address in turn until one connects (netio::connect_any):
  // GOOD, TIMEOUT when the deadline ended the last attempt, CANCELLED when
  // `interrupt_fd` (a netio::Interrupt, -1: none) is set, else
  // NOT_CONNECTED. The socket keeps `interrupt_fd` for all its waits.
  static HUBLET_STATUS connect_any(const std::vector<Address>& addresses, Deadline deadline, Socket& out,
                                   std::string& error, int interrupt_fd = -1);

  bool is_open() const { return static_cast<bool>(fd_); }
  // Whole buffer or a failure: TIMEOUT (some bytes may be gone),
  // CANCELLED or NOT_CONNECTED.
  HUBLET_STATUS send_all(std::span<const std::uint8_t> bytes, Deadline deadline);
  // Appends what arrives (at least one byte) to `buffer`. NOT_CONNECTED on
  // end of stream or error, TIMEOUT when nothing came before the deadline,
  // CANCELLED when the interrupt was set first.
  HUBLET_STATUS receive_some(Bytes& buffer, Deadline deadline);
  void close() { fd_.reset(); }
  // Why the latest NOT_CONNECTED came: "closed by the server", or the
  // system's reason ("Connection reset by peer").
  const std::string& error() const { return error_; }

 private:
  HUBLET_STATUS wait_ready(short events, Deadline deadline);

  HUBLET_STATUS lost(const std::string& why);

  netio::UniqueFd fd_;
  int interrupt_fd_ = -1;  // not owned
  std::string error_;
};

// --- chunks ---------------------------------------------------------------

enum class MessageType : std::uint8_t {
  kHello,
  kAcknowledge,
  kError,
  kReverseHello,
  kMessage,
  kOpen,
  kClose
};

inline constexpr std::size_t kChunkHeaderSize = 8;
// Smallest buffer size a peer may announce (and the chunk size we never
// need to exceed for anything but service messages).
inline constexpr std::uint32_t kMinBufferSize = 8192;

struct ChunkHeader {
  MessageType type = MessageType::kMessage;
  char chunk_type = 'F';   // 'F' final, 'C' intermediate, 'A' abort
  std::uint32_t size = 0;  // whole chunk, header included
};

// The first 8 bytes of a chunk. MALFORMED for an unknown type, a chunk type
// other than F/C/A (or not F where only F is allowed), a size smaller than
// a header; BUFFER_TOO_SMALL for fewer than 8 bytes.
HUBLET_STATUS parse_chunk_header(std::span<const std::uint8_t> bytes, ChunkHeader& out);
void write_chunk_header(Writer& w, MessageType type, char chunk_type);  // size patched later

struct TransportLimits {
  std::uint32_t protocol_version = 0;
  std::uint32_t receive_buffer_size = 0;
  std::uint32_t send_buffer_size = 0;
  std::uint32_t max_message_size = 0;  // 0: no limit
  std::uint32_t max_chunk_count = 0;   // 0: no limit
  HUBLET_FIELDS(protocol_version, receive_buffer_size, send_buffer_size, max_message_size, max_chunk_count)
};

struct HelloMessage {
  TransportLimits limits;
  std::string endpoint_url;
  HUBLET_FIELDS(limits, endpoint_url)
};

// Body of ERR messages and of abort chunks.
struct ErrorMessage {
  StatusCode error;
  std::string reason;
  HUBLET_FIELDS(error, reason)
};

Bytes encode_hello(const HelloMessage& hello);

// A secure conversation chunk (OPN, MSG, CLO) taken apart.
struct SecureChunk {
  MessageType type = MessageType::kMessage;
  char chunk_type = 'F';
  std::uint32_t channel_id = 0;
  std::uint32_t token_id = 0;  // MSG, CLO
  std::string policy_uri;      // OPN
  std::uint32_t sequence_number = 0;
  std::uint32_t request_id = 0;
  std::span<const std::uint8_t> body;  // into the chunk given to parse_secure_chunk
};

HUBLET_STATUS parse_secure_chunk(std::span<const std::uint8_t> chunk, SecureChunk& out);

// Collects the chunks of each request id until the final one. The bytes held
// (all unfinished messages together) never exceed max_message_size, nor
// does one message have more than max_chunk_count chunks.
class MessageAssembler {
 public:
  MessageAssembler(std::uint32_t max_message_size, std::uint32_t max_chunk_count)
      : max_message_size_(max_message_size), max_chunk_count_(max_chunk_count) {}

  struct Message {
    MessageType type = MessageType::kMessage;
    std::uint32_t request_id = 0;
    Bytes body;
    bool aborted = false;  // abort chunk: `error` says why, `body` is empty
    ErrorMessage error;
  };

  // GOOD with `complete` set when `chunk` finished a message (or aborted
  // one); TOO_LARGE or MALFORMED (bad abort body) otherwise.
  HUBLET_STATUS add(const SecureChunk& chunk, bool& complete, Message& out);
  void clear();

 private:
  struct Partial {
    MessageType type;
    Bytes body;
    std::uint32_t chunks = 0;
  };
  std::uint32_t max_message_size_;
  std::uint32_t max_chunk_count_;
  std::map<std::uint32_t, Partial> partial_;
  std::size_t held_ = 0;
};

// Splits a byte stream into chunks: keeps whatever arrived beyond the chunk
// it returns, and a partial chunk across time-outs.
class ChunkReader {
 public:
  // One whole chunk (header included) of at most max_chunk_size bytes.
  HUBLET_STATUS next(Socket& socket, Deadline deadline, std::uint32_t max_chunk_size, Bytes& chunk);
  // What arrived and is not part of a chunk returned yet: after a MALFORMED
  // from next(), the bytes that are no chunk.
  std::span<const std::uint8_t> unread() const {
    return std::span<const std::uint8_t>(buffer_).subspan(start_);
  }
  void clear() {
    buffer_.clear();
    start_ = 0;
  }

 private:
  Bytes buffer_;
  std::size_t start_ = 0;
};

}  // namespace hublet::ua
