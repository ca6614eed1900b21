// libFuzzer target over hublet's decoders. The input is tried three ways: as
// one service response body, as the byte stream a socket delivers (chunks
// of any type, assembled per request id), and as a node id typed by a user.
// Whatever decodes must encode, decode again and encode to the same bytes;
// a node id that parses must print as text that parses to the same node.
// Built and run by run.sh, outside the normal build.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "ua_binary.h"
#include "ua_services.h"
#include "ua_transport.h"

namespace {

using namespace hublet;
using namespace hublet::ua;

[[noreturn]] void unstable() {
  __builtin_trap();
}

void check_response(std::span<const std::uint8_t> body) {
  Response first;
  if (decode_response(body, first) != HUBLET_STATUS_GOOD) {
    if (!std::holds_alternative<std::monostate>(first)) unstable();  // failures leave nothing behind
    return;
  }
  const Bytes encoded = encode_response(first);
  Response second;
  if (decode_response(encoded, second) != HUBLET_STATUS_GOOD) unstable();
  if (encode_response(second) != encoded) unstable();
}

template <typename T>
void check(std::span<const std::uint8_t> bytes) {
  T first;
  if (decode_all(bytes, first) != HUBLET_STATUS_GOOD) return;
  const Bytes encoded = encode_to_bytes(first);
  T second;
  if (decode_all(encoded, second) != HUBLET_STATUS_GOOD) unstable();
  if (encode_to_bytes(second) != encoded) unstable();
}

void check_stream(std::span<const std::uint8_t> input) {
  MessageAssembler assembler(1u << 20, 64);
  while (input.size() >= kChunkHeaderSize) {
    ChunkHeader header;
    if (parse_chunk_header(input, header) != HUBLET_STATUS_GOOD || header.size > input.size()) return;
    const auto chunk = input.first(header.size);
    input = input.subspan(header.size);
    const auto body = chunk.subspan(kChunkHeaderSize);
    switch (header.type) {
      case MessageType::kHello:
        check<HelloMessage>(body);
        continue;
      case MessageType::kAcknowledge:
        check<TransportLimits>(body);
        continue;
      case MessageType::kError:
        check<ErrorMessage>(body);
        continue;
      case MessageType::kReverseHello:
        continue;
      default:
        break;
    }
    SecureChunk secure;
    if (parse_secure_chunk(chunk, secure) != HUBLET_STATUS_GOOD) continue;
    bool complete = false;
    MessageAssembler::Message message;
    if (assembler.add(secure, complete, message) != HUBLET_STATUS_GOOD) return;
    if (complete && !message.aborted) check_response(message.body);
  }
}

void check_node_id_text(std::string_view text) {
  NodeId first = NodeId::string_id(1, "untouched");
  std::string error;
  if (!parse_node_id(text, first, error)) {
    if (error.empty() || !(first == NodeId::string_id(1, "untouched"))) unstable();
    return;
  }
  const std::string printed = to_string(first);
  NodeId second;
  if (!parse_node_id(printed, second, error) || !(second == first)) unstable();
  if (to_string(second) != printed) unstable();
  // What went over the wire comes back as the same node.
  NodeId decoded;
  if (decode_all(encode_to_bytes(first), decoded) != HUBLET_STATUS_GOOD || !(decoded == first)) unstable();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  check_response(input);
  check<Variant>(input);
  check<DataValue>(input);
  check_stream(input);
  check_node_id_text(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
