#include "ua_securechannel.h"

#include <cstdio>
#include <span>

#include "hublet/hublet.h"

namespace hublet::ua {

namespace {

// Sequence numbers wrap to a small number before reaching 2^32 - 1024.
constexpr std::uint32_t kSequenceWrapAbove = 4294966271u;
constexpr std::uint32_t kSequenceWrapBelow = 1024;

std::size_t security_header_size(MessageType type) {
  if (type != MessageType::kOpen) return 4;  // token id
  // Policy URI, null sender certificate, null receiver thumbprint.
  return 4 + std::char_traits<char>::length(kSecurityPolicyNone) + 4 + 4;
}

// What a peer that is no OPC UA server answered, on one line: its first
// line, or its first bytes, control bytes as \xHH.
std::string answer_text(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kShown = 40;
  std::string text = "\"";
  std::size_t i = 0;
  for (; i < bytes.size() && i < kShown && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
    const std::uint8_t c = bytes[i];
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      text += hex;
    }
  }
  text += '"';
  if (i == kShown && i < bytes.size()) text += "...";
  return text;
}

// A failed TCP connection, naming the server once: netio lists every
// address tried with its reason.
std::string connect_failure(const std::string& where, const std::string& error) {
  const std::string prefix = where + ": ";
  if (error.starts_with(prefix) && error.find("; ") == std::string::npos) return "cannot connect to " + error;
  return "cannot connect to " + where + " (" + error + ")";
}

}  // namespace

SecureChannel::SecureChannel(const Logger& log, ChannelSettings settings)
    : log_(log), settings_(settings), assembler_(settings.max_message_size, 0) {}

std::uint32_t SecureChannel::next_sequence_number() {
  sequence_number_ = sequence_number_ >= kSequenceWrapAbove ? 1 : sequence_number_ + 1;
  return sequence_number_;
}

HUBLET_STATUS SecureChannel::broken(HUBLET_STATUS status, const char* what) {
  // A more telling reason may have been kept already.
  if (failure_.empty()) {
    if (status == HUBLET_STATUS_NOT_CONNECTED) {
      failure_ = "connection to " + where_ + " lost: " + socket_.error();
    } else if (status != HUBLET_STATUS_TIMEOUT && status != HUBLET_STATUS_CANCELLED) {
      failure_ = "invalid answer from " + where_ + ": " + what;
    }
  }
  // An interrupt is the owner shutting down, not a fault worth a warning.
  HUBLET_LOG(log_, status == HUBLET_STATUS_CANCELLED ? HUBLET_LOG_LEVEL_DEBUG : HUBLET_LOG_LEVEL_WARN,
             "secure channel %u: %s (%s); closing the connection", channel_id_, what, status_name(status));
  abandon();
  return status;
}

void SecureChannel::abandon() {
  socket_.close();
  reader_.clear();
  assembler_.clear();
}

HUBLET_STATUS SecureChannel::open(const Endpoint& endpoint, const std::string& url, Deadline deadline) {
  abandon();
  failure_.clear();
  where_ = endpoint.text();
  std::vector<Address> addresses;
  std::string error;
  HUBLET_STATUS status = resolve(endpoint, addresses, error);
  if (status != HUBLET_STATUS_GOOD) {
    failure_ = error;
  } else {
    status = Socket::connect_any(addresses, deadline, socket_, error, settings_.interrupt_fd);
    if (status == HUBLET_STATUS_NOT_CONNECTED) failure_ = connect_failure(where_, error);
  }
  if (status != HUBLET_STATUS_GOOD) {
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_DEBUG, "cannot connect to %s: %s", url.c_str(), error.c_str());
    return status;
  }
  channel_id_ = 0;
  token_id_ = 0;
  sequence_number_ = 0;
  last_received_sequence_.reset();
  status = hello(url, deadline);
  if (status == HUBLET_STATUS_GOOD) status = open_channel(SecurityTokenRequestType::kIssue, deadline);
  if (status != HUBLET_STATUS_GOOD) abandon();
  return status;
}

HUBLET_STATUS SecureChannel::hello(const std::string& url, Deadline deadline) {
  HelloMessage hello;
  hello.limits.receive_buffer_size = settings_.receive_buffer_size;
  hello.limits.send_buffer_size = settings_.receive_buffer_size;
  hello.limits.max_message_size = settings_.max_message_size;
  hello.limits.max_chunk_count = 0;
  hello.endpoint_url = url;
  const Bytes bytes = encode_hello(hello);
  HUBLET_STATUS status = socket_.send_all(bytes, deadline);
  if (status != HUBLET_STATUS_GOOD) return broken(status, "cannot send Hello");

  Bytes chunk;
  status = reader_.next(socket_, deadline, settings_.receive_buffer_size, chunk);
  if (status == HUBLET_STATUS_MALFORMED || status == HUBLET_STATUS_TOO_LARGE) {
    // The usual case: a port of some other service.
    failure_ = where_ + " is not an OPC UA server: it answered " + answer_text(reader_.unread());
  }
  if (status != HUBLET_STATUS_GOOD) return broken(status, "no Acknowledge");
  ChunkHeader header;
  parse_chunk_header(chunk, header);  // checked by the reader
  const std::span<const std::uint8_t> body(chunk.data() + kChunkHeaderSize, chunk.size() - kChunkHeaderSize);
  if (header.type == MessageType::kError) {
    ErrorMessage error;
    if (decode_all(body, error) != HUBLET_STATUS_GOOD)
      return broken(HUBLET_STATUS_MALFORMED, "bad Error message");
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server refused the connection: %s %s",
               status_text(error.error.code).c_str(), error.reason.c_str());
    refusal_ = error.error.code;
    abandon();
    return HUBLET_STATUS_SERVER_REFUSED;
  }
  if (header.type != MessageType::kAcknowledge)
    return broken(HUBLET_STATUS_MALFORMED, "expected Acknowledge");
  TransportLimits ack;
  status = decode_all(body, ack);
  if (status != HUBLET_STATUS_GOOD) return broken(status, "bad Acknowledge");
  if (ack.receive_buffer_size < kMinBufferSize || ack.send_buffer_size > settings_.receive_buffer_size) {
    return broken(HUBLET_STATUS_MALFORMED, "Acknowledge with unusable buffer sizes");
  }
  peer_ = ack;
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS SecureChannel::open_channel(SecurityTokenRequestType type, Deadline deadline) {
  OpenSecureChannelRequest request;
  request.header.timestamp = now_utc();
  request.header.request_handle = request_id_ + 1;
  request.header.timeout_hint = static_cast<std::uint32_t>(
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
  request.request_type = type;
  request.security_mode = MessageSecurityMode::kNone;
  request.requested_lifetime = settings_.requested_lifetime_ms;
  const std::uint32_t id = ++request_id_;
  HUBLET_STATUS status = send(MessageType::kOpen, id, encode_message(request), deadline);
  if (status != HUBLET_STATUS_GOOD) return status;
  Bytes body;
  status = receive(id, body, deadline);
  if (status != HUBLET_STATUS_GOOD) return status;
  Response response;
  status = decode_response(body, response);
  if (status != HUBLET_STATUS_GOOD) {
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN,
               "secure channel %u: cannot decode the OpenSecureChannel response (%s)", channel_id_,
               status_name(status));
    failure_ =
        "invalid answer from " + where_ + ": a response that cannot be decoded (" + status_name(status) + ")";
    return status;
  }
  const auto* opened = std::get_if<OpenSecureChannelResponse>(&response);
  if (opened == nullptr || opened->header.service_result.is_bad()) {
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server refused OpenSecureChannel: %s",
               status_text(response_header(response).service_result.code).c_str());
    refusal_ = response_header(response).service_result.code;
    abandon();
    return HUBLET_STATUS_SERVER_REFUSED;
  }
  const ChannelSecurityToken& token = opened->security_token;
  if (type == SecurityTokenRequestType::kRenew && token.channel_id != channel_id_) {
    return broken(HUBLET_STATUS_MALFORMED, "renewed token names another channel");
  }
  channel_id_ = token.channel_id;
  token_id_ = token.token_id;
  // Renew at 75 % of the lifetime; a lifetime of 0 would renew before
  // every request, so treat it as a short one.
  const std::uint32_t lifetime = token.revised_lifetime > 0 ? token.revised_lifetime : 1000;
  renew_at_ = Clock::now() + std::chrono::milliseconds(lifetime) * 3 / 4;
  if (type == SecurityTokenRequestType::kRenew) {
    ++renewals_;
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_DEBUG, "secure channel %u: token renewed (token %u, lifetime %u ms)",
               channel_id_, token_id_, lifetime);
  } else {
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_DEBUG, "secure channel %u opened (token %u, lifetime %u ms)",
               channel_id_, token_id_, lifetime);
  }
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS SecureChannel::call(const Bytes& request, Bytes& response, Deadline deadline) {
  response.clear();
  failure_.clear();
  if (!is_open()) {
    failure_ = "not connected to " + where_;
    return HUBLET_STATUS_NOT_CONNECTED;
  }
  if (Clock::now() >= renew_at_) {
    const HUBLET_STATUS status = open_channel(SecurityTokenRequestType::kRenew, deadline);
    if (status != HUBLET_STATUS_GOOD) return status;
  }
  const std::uint32_t id = ++request_id_;
  const HUBLET_STATUS status = send(MessageType::kMessage, id, request, deadline);
  if (status != HUBLET_STATUS_GOOD) return status;
  return receive(id, response, deadline);
}

HUBLET_STATUS SecureChannel::send(MessageType type, std::uint32_t request_id, const Bytes& body,
                                  Deadline deadline) {
  const std::size_t overhead = kChunkHeaderSize + 4 + security_header_size(type) + 8;
  const std::size_t max_chunk = peer_.receive_buffer_size;
  if (max_chunk <= overhead) return broken(HUBLET_STATUS_MALFORMED, "peer buffer too small");
  const std::size_t max_body = max_chunk - overhead;
  const std::size_t chunks = body.empty() ? 1 : (body.size() + max_body - 1) / max_body;
  if ((type != MessageType::kMessage && chunks > 1) ||
      (peer_.max_message_size != 0 && body.size() > peer_.max_message_size) ||
      (peer_.max_chunk_count != 0 && chunks > peer_.max_chunk_count)) {
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "request of %zu bytes exceeds what the server accepts",
               body.size());
    failure_ = "a request of " + std::to_string(body.size()) + " bytes is more than " + where_ + " accepts";
    return HUBLET_STATUS_TOO_LARGE;  // nothing sent: the channel stays usable
  }
  Writer w(std::move(send_buffer_));
  for (std::size_t i = 0; i < chunks; ++i) {
    const std::size_t start = w.size();
    write_chunk_header(w, type, i + 1 == chunks ? 'F' : 'C');
    w.uint(channel_id_);
    if (type == MessageType::kOpen) {
      encode(w, std::string(kSecurityPolicyNone));
      encode(w, ByteString{});
      encode(w, ByteString{});
    } else {
      w.uint(token_id_);
    }
    w.uint(next_sequence_number());
    w.uint(request_id);
    const std::size_t from = i * max_body;
    const std::size_t n = std::min(max_body, body.size() - from);
    w.raw(body.data() + from, n);
    w.patch_u32(start + 4, static_cast<std::uint32_t>(w.size() - start));
  }
  send_buffer_ = std::move(w.bytes());
  const HUBLET_STATUS status = socket_.send_all(send_buffer_, deadline);
  release_if_large(send_buffer_);
  // A message sent in part leaves the stream unusable.
  if (status != HUBLET_STATUS_GOOD) return broken(status, "cannot send");
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS SecureChannel::receive(std::uint32_t request_id, Bytes& body, Deadline deadline) {
  for (;;) {
    HUBLET_STATUS status = reader_.next(socket_, deadline, settings_.receive_buffer_size, chunk_);
    if (status == HUBLET_STATUS_TIMEOUT) {
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "secure channel %u: no response to request %u in time",
                 channel_id_, request_id);
      return status;
    }
    if (status == HUBLET_STATUS_MALFORMED) return broken(status, "a chunk that is not OPC UA");
    if (status == HUBLET_STATUS_TOO_LARGE) return broken(status, "a chunk larger than agreed");
    if (status != HUBLET_STATUS_GOOD) return broken(status, "connection lost");

    ChunkHeader header;
    parse_chunk_header(chunk_, header);  // checked by the reader
    if (header.type == MessageType::kError) {
      ErrorMessage error;
      const std::span<const std::uint8_t> error_body(chunk_.data() + kChunkHeaderSize,
                                                     chunk_.size() - kChunkHeaderSize);
      if (decode_all(error_body, error) != HUBLET_STATUS_GOOD)
        return broken(HUBLET_STATUS_MALFORMED, "bad Error message");
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server closed the connection: %s %s",
                 status_text(error.error.code).c_str(), error.reason.c_str());
      refusal_ = error.error.code;
      abandon();
      return HUBLET_STATUS_SERVER_REFUSED;
    }
    SecureChunk secure;
    status = parse_secure_chunk(chunk_, secure);
    if (status != HUBLET_STATUS_GOOD) return broken(HUBLET_STATUS_MALFORMED, "bad chunk");
    if (secure.type == MessageType::kClose)
      return broken(HUBLET_STATUS_MALFORMED, "unexpected CloseSecureChannel");
    if (channel_id_ != 0 && secure.channel_id != channel_id_) {
      return broken(HUBLET_STATUS_MALFORMED, "chunk for another channel");
    }
    if (last_received_sequence_) {
      const std::uint32_t last = *last_received_sequence_;
      const bool next =
          secure.sequence_number == last + 1 ||
          (last >= kSequenceWrapAbove - kSequenceWrapBelow && secure.sequence_number < kSequenceWrapBelow);
      if (!next) return broken(HUBLET_STATUS_MALFORMED, "sequence number out of order");
    }
    last_received_sequence_ = secure.sequence_number;

    bool complete = false;
    status = assembler_.add(secure, complete, message_);
    if (status != HUBLET_STATUS_GOOD) return broken(status, "cannot assemble the response");
    if (!complete) continue;
    if (message_.request_id != request_id) {
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_INFO, "secure channel %u: skipping a late response to request %u",
                 channel_id_, message_.request_id);
      continue;
    }
    if (message_.aborted) {
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server aborted the response to request %u: %s %s", request_id,
                 status_text(message_.error.error.code).c_str(), message_.error.reason.c_str());
      refusal_ = message_.error.error.code;
      return HUBLET_STATUS_SERVER_REFUSED;
    }
    // The buffers change hands: each keeps its capacity for later messages.
    body.swap(message_.body);
    release_if_large(message_.body);
    return HUBLET_STATUS_GOOD;
  }
}

void SecureChannel::close(Deadline deadline) {
  if (!is_open()) return;
  CloseSecureChannelRequest request;
  request.header.timestamp = now_utc();
  const std::uint32_t id = ++request_id_;
  send(MessageType::kClose, id, encode_message(request), deadline);
  abandon();
}

}  // namespace hublet::ua
