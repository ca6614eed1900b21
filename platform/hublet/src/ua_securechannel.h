#pragma once

// A secure channel with SecurityPolicy None over one TCP connection: Hello,
// OpenSecureChannel, token renewal, request/response exchange, close.
// Not thread-safe: the owner serialises calls.

#include <cstdint>
#include <optional>
#include <string>

#include "log.h"
#include "ua_services.h"
#include "ua_transport.h"

namespace hublet::ua {

struct ChannelSettings {
  std::uint32_t receive_buffer_size = 65536;  // largest chunk we accept
  std::uint32_t max_message_size = 16u * 1024 * 1024;
  std::uint32_t requested_lifetime_ms = 600000;
  int interrupt_fd = -1;  // a netio::Interrupt that ends every wait; -1: none
};

class SecureChannel {
 public:
  SecureChannel(const Logger& log, ChannelSettings settings);

  // TCP (every address of the host in turn), Hello/Acknowledge,
  // OpenSecureChannel. On failure the channel stays closed.
  HUBLET_STATUS open(const Endpoint& endpoint, const std::string& url, Deadline deadline);
  bool is_open() const { return socket_.is_open(); }

  // Sends an encoded service request and waits for the response with the
  // same request id, whose body (encoding id and fields) it leaves in
  // `response` for the caller to decode; responses to earlier requests (that
  // timed out) are skipped. Renews the security token first when 75 % of its
  // lifetime has passed. TIMEOUT keeps the channel open; a lost connection, a
  // broken stream, an Error message or an interrupt (CANCELLED) close it.
  HUBLET_STATUS call(const Bytes& request, Bytes& response, Deadline deadline);

  // CloseSecureChannel, then the socket; best effort within the deadline.
  void close(Deadline deadline);
  // Closes the socket without a word.
  void abandon();

  std::uint32_t channel_id() const { return channel_id_; }
  int renewals() const { return renewals_; }
  // The server's status behind the latest SERVER_REFUSED (an Error message,
  // a refused OpenSecureChannel, an aborted response).
  std::uint32_t refusal() const { return refusal_; }
  // Why the latest open() or call() failed, for a user, naming the server:
  // "cannot resolve host ...", "cannot connect to 127.0.0.1:1: Connection
  // refused", "connection to ... lost: closed by the server", "... is not an
  // OPC UA server: it answered "HTTP/1.1 400 Bad Request"", "invalid answer
  // from ...: <what>". Empty after a time-out (the caller knows how long it
  // waited), an interrupt, or a refusal (refusal() says why).
  const std::string& failure() const { return failure_; }

 private:
  HUBLET_STATUS hello(const std::string& url, Deadline deadline);
  HUBLET_STATUS open_channel(SecurityTokenRequestType type, Deadline deadline);
  HUBLET_STATUS send(MessageType type, std::uint32_t request_id, const Bytes& body, Deadline deadline);
  HUBLET_STATUS receive(std::uint32_t request_id, Bytes& body, Deadline deadline);
  HUBLET_STATUS broken(HUBLET_STATUS status, const char* what);
  std::uint32_t next_sequence_number();

  const Logger& log_;
  ChannelSettings settings_;
  Socket socket_;
  ChunkReader reader_;
  MessageAssembler assembler_;
  // Kept from one message to the next, so that a poll allocates nothing here.
  Bytes chunk_;
  MessageAssembler::Message message_;
  Bytes send_buffer_;
  TransportLimits peer_;  // what the server's Acknowledge allows us to send
  std::uint32_t channel_id_ = 0;
  std::uint32_t token_id_ = 0;
  std::uint32_t sequence_number_ = 0;
  std::optional<std::uint32_t> last_received_sequence_;
  std::uint32_t request_id_ = 0;
  Deadline renew_at_{};
  int renewals_ = 0;
  std::uint32_t refusal_ = 0;
  std::string where_;  // the server's host:port
  std::string failure_;
};

}  // namespace hublet::ua
