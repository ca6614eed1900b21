// libFuzzer target over hublet's decoders. The input is tried three ways: as
// one service response body, as the byte stream a socket delivers (chunks
// of any type, assembled per request id), and as a node id typed by a user.
// Whatever decodes must encode, decode again and encode to the same bytes;
// a Read response decoded result by result must agree with the whole
// decode; a node id that parses must print as text that parses to the same
// node.
// Built and run by run.sh, outside the normal build.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ua_binary.h"
#include "ua_services.h"
#include "ua_transport.h"

namespace {

using namespace hublet;
using namespace hublet::ua;

[[noreturn]] void unstable() {
  __builtin_trap();
}

// A Read response is decoded result by result on the way in: it must take
// and refuse what the whole decode does, and give the same results.
void check_streamed_read(std::span<const std::uint8_t> body, HUBLET_STATUS whole_status,
                         const Response& whole) {
  std::uint32_t id = 0;
  if (!message_id(body, id) || id != ReadResponse::kBinaryId) return;
  ResponseHeader header;
  std::size_t results = 0;
  std::vector<Bytes> values;
  const HUBLET_STATUS status =
      decode_read_response(body, header, results, [&](std::size_t i, const DataValue& v) {
        if (i != values.size()) unstable();
        values.push_back(encode_to_bytes(v));
      });
  if (status != whole_status) unstable();
  if (status != HUBLET_STATUS_GOOD) return;
  const auto& read = std::get<ReadResponse>(whole);
  if (results != read.results.size() || values.size() != results) unstable();
  if (encode_to_bytes(header) != encode_to_bytes(read.header)) unstable();
  for (std::size_t i = 0; i < results; ++i) {
    if (values[i] != encode_to_bytes(read.results[i])) unstable();
  }
}

void check_response(std::span<const std::uint8_t> body) {
  Response first;
  const HUBLET_STATUS status = decode_response(body, first);
  check_streamed_read(body, status, first);
  if (status != HUBLET_STATUS_GOOD) {
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
