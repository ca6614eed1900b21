// The binary encoding, the service messages and the chunk layer, without a
// network: hostile input, round trips, and responses captured from a real
// node-opcua server (tests/hublet/fuzz/corpus).

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "ua_binary.h"
#include "ua_services.h"
#include "ua_transport.h"

namespace hublet::ua {
namespace {

Bytes bytes_of(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::filesystem::path> corpus(const std::string& prefix) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(HUBLET_CORPUS_DIR)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Variant scalar(Scalar value) {
  Variant v;
  v.value = std::move(value);
  return v;
}

template <typename T>
T round_trip(const T& value) {
  T back;
  EXPECT_EQ(decode_all(encode_to_bytes(value), back), HUBLET_STATUS_GOOD);
  return back;
}

// --- reader and length prefixes --------------------------------------------

TEST(BinaryReader, ReadsLittleEndianAndStopsAtTheEnd) {
  const Bytes b = bytes_of({0x01, 0x02, 0x03, 0x04, 0xFF});
  Reader r(b);
  std::uint32_t u = 0;
  ASSERT_TRUE(r.uint(u));
  EXPECT_EQ(u, 0x04030201u);
  std::uint16_t too_wide = 0;
  EXPECT_FALSE(r.uint(too_wide));
  EXPECT_EQ(r.status(), HUBLET_STATUS_BUFFER_TOO_SMALL);
  std::uint8_t after = 0;
  EXPECT_FALSE(r.uint(after)) << "a failure sticks";
}

TEST(BinaryReader, NegativeLengthsAreNullAndKeptEmpty) {
  for (std::uint32_t length : {0xFFFFFFFFu, 0x80000000u, 0xFFFFFFFEu}) {
    Writer w;
    w.uint(length);
    std::string text = "stale";
    EXPECT_EQ(decode_all(w.bytes(), text), HUBLET_STATUS_GOOD);
    EXPECT_EQ(text, "");
    std::vector<std::int32_t> array{1, 2};
    EXPECT_EQ(decode_all(w.bytes(), array), HUBLET_STATUS_GOOD);
    EXPECT_TRUE(array.empty());
  }
}

TEST(BinaryReader, LengthsBeyondTheBytesLeftFailBeforeAllocating) {
  // 2^31-1 elements announced with a handful of bytes behind: refused at
  // once (an attempt to allocate would be noticed by the sanitizers or time).
  const Bytes huge = bytes_of({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4});
  std::string text;
  EXPECT_EQ(decode_all(huge, text), HUBLET_STATUS_BUFFER_TOO_SMALL);
  std::vector<std::int32_t> ints;
  EXPECT_EQ(decode_all(huge, ints), HUBLET_STATUS_BUFFER_TOO_SMALL);
  std::vector<ReferenceDescription> refs;
  EXPECT_EQ(decode_all(huge, refs), HUBLET_STATUS_BUFFER_TOO_SMALL);
  // Two Int32s cannot fit in four bytes even though two bytes could.
  EXPECT_EQ(decode_all(bytes_of({2, 0, 0, 0, 1, 0, 0, 0}), ints), HUBLET_STATUS_BUFFER_TOO_SMALL);
  Variant v;
  EXPECT_EQ(decode_all(bytes_of({0x80 | 6, 0xFF, 0xFF, 0xFF, 0x7F}), v), HUBLET_STATUS_BUFFER_TOO_SMALL);
}

TEST(BinaryReader, BadEncodingBytesAreMalformedAndLeaveTheOutputEmpty) {
  NodeId node = NodeId::string_id(3, "kept?");
  EXPECT_EQ(decode_all(bytes_of({0x07, 0}), node), HUBLET_STATUS_MALFORMED);
  EXPECT_EQ(node, NodeId{});
  EXPECT_EQ(decode_all(bytes_of({0x40, 1}), node), HUBLET_STATUS_MALFORMED) << "expanded flags in a NodeId";
  Variant v;
  EXPECT_EQ(decode_all(bytes_of({30}), v), HUBLET_STATUS_MALFORMED) << "no built-in type 30";
  EXPECT_EQ(decode_all(bytes_of({0x40}), v), HUBLET_STATUS_MALFORMED) << "empty variant with flags";
  EXPECT_EQ(decode_all(bytes_of({0x40 | 1, 1}), v), HUBLET_STATUS_MALFORMED) << "dimensions on a scalar";
  ExtensionObject e;
  EXPECT_EQ(decode_all(bytes_of({0, 0, 3}), e), HUBLET_STATUS_MALFORMED);
  std::uint8_t byte = 0;
  EXPECT_EQ(decode_all(bytes_of({1, 2}), byte), HUBLET_STATUS_MALFORMED) << "bytes left over";
  EXPECT_TRUE(v.empty());
}

TEST(BinaryReader, NestingIsCappedForEveryRecursiveType) {
  const auto nested_variants = [](int depth) {
    Bytes b;
    for (int i = 0; i < depth; ++i) b.push_back(24);  // Variant holding a Variant ...
    b.push_back(1);                                   // ... holding a Boolean
    b.push_back(1);
    return b;
  };
  Variant v;
  EXPECT_EQ(decode_all(nested_variants(kMaxNestingDepth - 1), v), HUBLET_STATUS_GOOD);
  EXPECT_EQ(decode_all(nested_variants(kMaxNestingDepth), v), HUBLET_STATUS_MALFORMED);
  EXPECT_EQ(decode_all(nested_variants(100000), v), HUBLET_STATUS_MALFORMED);
  EXPECT_TRUE(v.empty());

  Bytes diagnostics(100000, 0x40);  // inner diagnostic info, again and again
  DiagnosticInfo d;
  EXPECT_EQ(decode_all(diagnostics, d), HUBLET_STATUS_MALFORMED);

  Bytes data_values;
  for (int i = 0; i < 1000; ++i) {
    data_values.push_back(0x01);  // DataValue with a value
    data_values.push_back(23);    // that is a DataValue
  }
  DataValue dv;
  EXPECT_EQ(decode_all(data_values, dv), HUBLET_STATUS_MALFORMED);
}

// --- round trips --------------------------------------------------------------

TEST(NodeIdEncoding, UsesTheSmallestFormAndReadsEveryForm) {
  EXPECT_EQ(encode_to_bytes(NodeId::numeric_id(0, 85)), bytes_of({0x00, 85}));
  EXPECT_EQ(encode_to_bytes(NodeId::numeric_id(2, 1000)), bytes_of({0x01, 2, 0xE8, 0x03}));
  EXPECT_EQ(encode_to_bytes(NodeId::numeric_id(300, 70000)),
            bytes_of({0x02, 0x2C, 0x01, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(encode_to_bytes(NodeId::string_id(2, "G1")), bytes_of({0x03, 2, 0, 2, 0, 0, 0, 'G', '1'}));

  NodeId guid;
  guid.kind = NodeId::Kind::kGuid;
  guid.namespace_index = 1;
  guid.guid = Guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
  EXPECT_EQ(identifier_text(guid), "72962b91-fa75-4ae6-8d28-b404dc7daf63");
  NodeId opaque;
  opaque.kind = NodeId::Kind::kOpaque;
  opaque.text = std::string("\x00\xFF\x10", 3);
  EXPECT_EQ(identifier_text(opaque), "AP8Q");
  for (const NodeId& id :
       {NodeId::numeric_id(0, 85), NodeId::numeric_id(2, 1000), NodeId::numeric_id(65535, 0xFFFFFFFF),
        NodeId::string_id(2, "S1.FIC101.PV"), NodeId::string_id(7, ""), guid, opaque}) {
    EXPECT_EQ(round_trip(id), id) << to_string(id);
  }
  // The longer forms of a small id read as the same node.
  NodeId read;
  ASSERT_EQ(decode_all(bytes_of({0x02, 0, 0, 85, 0, 0, 0}), read), HUBLET_STATUS_GOOD);
  EXPECT_EQ(read, NodeId::numeric_id(0, 85));

  ExpandedNodeId expanded{NodeId::string_id(0, "x"), "urn:elsewhere", 3};
  EXPECT_EQ(round_trip(expanded), expanded);
}

TEST(VariantEncoding, EveryBuiltInTypeSurvivesARoundTrip) {
  std::vector<Scalar> scalars = {
      true,
      std::int8_t{-5},
      std::uint8_t{250},
      std::int16_t{-300},
      std::uint16_t{60000},
      std::int32_t{-70000},
      std::uint32_t{4000000000u},
      std::int64_t{-(1LL << 60)},
      std::uint64_t{1ULL << 63},
      0.25f,
      1e-300,
      std::string("text"),
      DateTime{132000000000000000},
      Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}},
      ByteString{std::string("\x00\x01", 2)},
      XmlElement{"<a/>"},
      NodeId::string_id(2, "n"),
      ExpandedNodeId{NodeId::numeric_id(0, 1), "urn:x", 0},
      StatusCode{0x80340000},
      QualifiedName{2, "q"},
      LocalizedText{"en", "hello"},
      ExtensionObject{NodeId::numeric_id(0, 321), ExtensionObject::Encoding::kBinary, "ab"},
      Box<DataValue>(DataValue{scalar(2.5), StatusCode{0x40000000}, DateTime{1}, 7, std::nullopt, 9}),
      Box<Variant>(scalar(std::string("inner"))),
      Box<DiagnosticInfo>(
          DiagnosticInfo{1, std::nullopt, 3, std::nullopt, "why", StatusCode{1}, {DiagnosticInfo{}}}),
  };
  ASSERT_EQ(scalars.size(), kMaxBuiltinType);
  for (std::size_t i = 0; i < scalars.size(); ++i) {
    Variant v;
    v.value = scalars[i];
    EXPECT_EQ(v.type(), i + 1);
    EXPECT_EQ(round_trip(v), v) << "built-in type " << i + 1;
  }

  Variant matrix;
  matrix.is_array = true;
  matrix.array_type = 6;
  for (std::int32_t i = 0; i < 6; ++i) matrix.array.emplace_back(i);
  matrix.dimensions = {2, 3};
  EXPECT_EQ(round_trip(matrix), matrix);
  Variant empty_array;
  empty_array.is_array = true;
  empty_array.array_type = 12;
  EXPECT_EQ(round_trip(empty_array), empty_array);
  EXPECT_EQ(round_trip(Variant{}), Variant{});
}

TEST(VariantEncoding, DoublesKeepEveryBit) {
  for (double d : {0.1, -0.0, 1e-310, std::nextafter(1.0, 2.0), std::numeric_limits<double>::infinity()}) {
    const Variant v = scalar(d);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(round_trip(v).value)),
              std::bit_cast<std::uint64_t>(d));
  }
  const Variant nan = scalar(std::nan("0x5"));
  EXPECT_EQ(encode_to_bytes(round_trip(nan)), encode_to_bytes(nan));
}

// --- captured responses -------------------------------------------------------

TEST(CapturedResponses, DecodeAndEncodeBackToTheSameBytes) {
  const auto files = corpus("msg-");
  ASSERT_GE(files.size(), 10u);
  for (const auto& file : files) {
    const Bytes body = read_file(file);
    Response response;
    ASSERT_EQ(decode_response(body, response), HUBLET_STATUS_GOOD) << file;
    EXPECT_FALSE(std::holds_alternative<std::monostate>(response));
    EXPECT_EQ(encode_response(response), body) << file;
  }
}

TEST(CapturedResponses, EveryTruncationIsBufferTooSmallWithNothingDecoded) {
  for (const auto& file : corpus("msg-")) {
    const Bytes body = read_file(file);
    for (std::size_t n = 0; n < body.size(); ++n) {
      Response response = ServiceFault{};
      const HUBLET_STATUS status = decode_response(std::span(body.data(), n), response);
      ASSERT_EQ(status, HUBLET_STATUS_BUFFER_TOO_SMALL) << file << " cut at " << n;
      ASSERT_TRUE(std::holds_alternative<std::monostate>(response)) << file << " cut at " << n;
    }
    Bytes longer = body;
    longer.push_back(0);
    Response response;
    EXPECT_EQ(decode_response(longer, response), HUBLET_STATUS_MALFORMED) << file;
  }
}

TEST(CapturedResponses, CarryWhatTheServerSaid) {
  Response response;
  ASSERT_EQ(decode_response(read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "msg-browse.bin"), response),
            HUBLET_STATUS_GOOD);
  const auto& browse = std::get<BrowseResponse>(response);
  ASSERT_EQ(browse.results.size(), 1u);
  ASSERT_EQ(browse.results[0].references.size(), 30u);
  const ReferenceDescription& first = browse.results[0].references[0];
  EXPECT_EQ(first.node_id.node_id, NodeId::string_id(2, "G1.T0"));
  EXPECT_EQ(first.display_name.text, "T0");
  EXPECT_EQ(first.node_class, NodeClass::kVariable);

  ASSERT_EQ(decode_response(read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "msg-create-session.bin"),
                            response),
            HUBLET_STATUS_GOOD);
  const auto& session = std::get<CreateSessionResponse>(response);
  ASSERT_FALSE(session.server_endpoints.empty());
  EXPECT_EQ(session.server_endpoints[0].security_policy_uri, kSecurityPolicyNone);
}

TEST(ServiceMessages, UnknownEncodingIdsAreMalformed) {
  Response response;
  EXPECT_EQ(decode_response(encode_message(ReadRequest{}), response), HUBLET_STATUS_MALFORMED)
      << "a request is not a response";
  EXPECT_EQ(decode_response(bytes_of({0x03, 0, 0, 0, 0, 0, 0}), response), HUBLET_STATUS_MALFORMED);
  ServiceFault fault;
  fault.header.service_result.code = sc::kBadSessionIdInvalid;
  ASSERT_EQ(decode_response(encode_message(fault), response), HUBLET_STATUS_GOOD);
  EXPECT_EQ(response_header(response).service_result.code, sc::kBadSessionIdInvalid);
}

// --- chunks ---------------------------------------------------------------

SecureChunk chunk(char type, std::uint32_t request_id, std::string_view body) {
  SecureChunk c;
  c.chunk_type = type;
  c.request_id = request_id;
  c.body = std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
  return c;
}

TEST(ChunkHeaders, AcceptOnlyKnownTypesAndSizes) {
  ChunkHeader h;
  EXPECT_EQ(parse_chunk_header(bytes_of({'M', 'S', 'G', 'C', 24, 0, 0, 0}), h), HUBLET_STATUS_GOOD);
  EXPECT_EQ(h.type, MessageType::kMessage);
  EXPECT_EQ(h.size, 24u);
  EXPECT_EQ(parse_chunk_header(bytes_of({'H', 'T', 'T', 'P', 24, 0, 0, 0}), h), HUBLET_STATUS_MALFORMED);
  EXPECT_EQ(parse_chunk_header(bytes_of({'M', 'S', 'G', 'X', 24, 0, 0, 0}), h), HUBLET_STATUS_MALFORMED);
  EXPECT_EQ(parse_chunk_header(bytes_of({'A', 'C', 'K', 'C', 24, 0, 0, 0}), h), HUBLET_STATUS_MALFORMED)
      << "Acknowledge comes in one chunk";
  EXPECT_EQ(parse_chunk_header(bytes_of({'A', 'C', 'K', 'F', 7, 0, 0, 0}), h), HUBLET_STATUS_MALFORMED);
  EXPECT_EQ(parse_chunk_header(bytes_of({'A', 'C', 'K'}), h), HUBLET_STATUS_BUFFER_TOO_SMALL);
}

TEST(ChunkAssembly, JoinsChunksPerRequestAndBoundsWhatItHolds) {
  MessageAssembler assembler(10, 3);
  bool complete = false;
  MessageAssembler::Message m;
  ASSERT_EQ(assembler.add(chunk('C', 1, "abc"), complete, m), HUBLET_STATUS_GOOD);
  ASSERT_EQ(assembler.add(chunk('F', 2, "xy"), complete, m), HUBLET_STATUS_GOOD);
  ASSERT_TRUE(complete);
  EXPECT_EQ(m.request_id, 2u);
  ASSERT_EQ(assembler.add(chunk('F', 1, "de"), complete, m), HUBLET_STATUS_GOOD);
  ASSERT_TRUE(complete);
  EXPECT_EQ(m.body, bytes_of({'a', 'b', 'c', 'd', 'e'}));

  EXPECT_EQ(assembler.add(chunk('C', 3, "123456"), complete, m), HUBLET_STATUS_GOOD);
  EXPECT_EQ(assembler.add(chunk('C', 4, "12345"), complete, m), HUBLET_STATUS_TOO_LARGE) << "11 bytes held";
  EXPECT_EQ(assembler.add(chunk('C', 3, "7"), complete, m), HUBLET_STATUS_GOOD);
  EXPECT_EQ(assembler.add(chunk('C', 3, "8"), complete, m), HUBLET_STATUS_GOOD);
  EXPECT_EQ(assembler.add(chunk('F', 3, "9"), complete, m), HUBLET_STATUS_TOO_LARGE) << "fourth chunk";
}

TEST(ChunkAssembly, AnAbortEndsItsMessageWithTheServersReason) {
  MessageAssembler assembler(1000, 0);
  bool complete = false;
  MessageAssembler::Message m;
  ASSERT_EQ(assembler.add(chunk('C', 5, "part"), complete, m), HUBLET_STATUS_GOOD);
  const Bytes reason = encode_to_bytes(ErrorMessage{StatusCode{0x80B90000}, "too large"});
  const std::string body(reason.begin(), reason.end());
  ASSERT_EQ(assembler.add(chunk('A', 5, body), complete, m), HUBLET_STATUS_GOOD);
  ASSERT_TRUE(complete);
  EXPECT_TRUE(m.aborted);
  EXPECT_EQ(m.error.error.code, 0x80B90000u);
  EXPECT_EQ(m.error.reason, "too large");
  EXPECT_EQ(assembler.add(chunk('A', 6, "x"), complete, m), HUBLET_STATUS_MALFORMED);
}

TEST(ChunkAssembly, ReassemblesACapturedMultiChunkResponse) {
  const Bytes stream = read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "stream-browse-multichunk.bin");
  MessageAssembler assembler(1 << 20, 0);
  std::size_t pos = 0;
  int chunks = 0;
  bool complete = false;
  MessageAssembler::Message m;
  while (pos < stream.size()) {
    ChunkHeader h;
    ASSERT_EQ(parse_chunk_header(std::span(stream).subspan(pos), h), HUBLET_STATUS_GOOD);
    SecureChunk c;
    ASSERT_EQ(parse_secure_chunk(std::span(stream).subspan(pos, h.size), c), HUBLET_STATUS_GOOD);
    ASSERT_EQ(assembler.add(c, complete, m), HUBLET_STATUS_GOOD);
    pos += h.size;
    ++chunks;
  }
  EXPECT_GT(chunks, 2);
  ASSERT_TRUE(complete);
  EXPECT_EQ(m.body, read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "msg-browse.bin"));
}

TEST(SecureChunks, ShortOrInconsistentChunksAreRefused) {
  const Bytes stream = read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "stream-browse-read.bin");
  ChunkHeader ack;
  ASSERT_EQ(parse_chunk_header(stream, ack), HUBLET_STATUS_GOOD);
  const auto opn = std::span(stream).subspan(ack.size);
  ChunkHeader h;
  ASSERT_EQ(parse_chunk_header(opn, h), HUBLET_STATUS_GOOD);
  SecureChunk c;
  ASSERT_EQ(parse_secure_chunk(opn.first(h.size), c), HUBLET_STATUS_GOOD);
  EXPECT_EQ(c.type, MessageType::kOpen);
  EXPECT_EQ(c.policy_uri, kSecurityPolicyNone);
  EXPECT_EQ(parse_secure_chunk(opn.first(h.size - 1), c), HUBLET_STATUS_MALFORMED) << "size disagrees";
  Bytes cut(opn.begin(), opn.begin() + 20);
  cut[4] = 20;
  cut[5] = cut[6] = cut[7] = 0;
  EXPECT_EQ(parse_secure_chunk(cut, c), HUBLET_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(parse_secure_chunk(std::span(stream).first(ack.size), c), HUBLET_STATUS_MALFORMED) << "ACK";
}

}  // namespace
}  // namespace hublet::ua
