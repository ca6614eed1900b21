// The binary encoding, the service messages and the chunk layer, without a
// network: hostile input, round trips, and responses captured from a real
// node-opcua server (tests/hublet/fuzz/corpus).

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "hublet/hublet.h"
#include "ua_binary.h"
#include "ua_services.h"
#include "ua_transport.h"
#include "values.h"

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

// --- reads encoded once ---------------------------------------------------

TEST(PlannedReads, SendTheBytesOfTheReadRequestOfTheirItemsBatchByBatch) {
  std::vector<ReadValueId> items;
  for (int i = 0; i < 4; ++i) items.emplace_back().node_id = NodeId::string_id(2, "G1.T" + std::to_string(i));
  items[2].attribute_id = attr::kDataType;
  items.emplace_back().node_id = NodeId::numeric_id(0, id::kObjectsFolder);
  const struct {
    std::size_t batch;
    std::vector<std::size_t> counts;
  } cases[] = {{0, {1, 1, 1, 1, 1}}, {2, {2, 2, 1}}, {5, {5}}, {1000, {5}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.batch);
    const ReadPlan plan = plan_read(items, c.batch);
    ASSERT_EQ(plan.requests.size(), c.counts.size());
    std::size_t first = 0;
    for (std::size_t k = 0; k < plan.requests.size(); ++k) {
      const ReadPlan::Request& part = plan.requests[k];
      EXPECT_EQ(part.first, first);
      ASSERT_EQ(part.count, c.counts[k]);
      ReadRequest whole;
      whole.header.request_handle = 7;
      whole.nodes_to_read.assign(items.begin() + static_cast<std::ptrdiff_t>(first),
                                 items.begin() + static_cast<std::ptrdiff_t>(first + part.count));
      PlannedReadRequest planned;
      planned.header.request_handle = 7;
      planned.nodes_to_read.bytes = part.nodes_to_read;
      EXPECT_EQ(encode_message(planned), encode_message(whole)) << "request " << k;
      first += part.count;
    }
  }
  EXPECT_TRUE(plan_read({}, 1000).requests.empty());
}

// What decode_read_response gave, each result copied as it came.
struct Streamed {
  HUBLET_STATUS status = HUBLET_STATUS_GOOD;
  ResponseHeader header;
  std::size_t results = 0;
  std::vector<Bytes> values;  // encoded: NaN compares unequal to itself
};

Streamed streamed(std::span<const std::uint8_t> body) {
  Streamed out;
  out.status = decode_read_response(body, out.header, out.results, [&out](std::size_t i, const DataValue& v) {
    EXPECT_EQ(i, out.values.size()) << "in order";
    out.values.push_back(encode_to_bytes(v));
  });
  return out;
}

// Captured reads, and one of every kind of result in turn, so that nothing
// of a result survives in the storage the next one reuses.
std::vector<Bytes> read_responses() {
  std::vector<Bytes> bodies;
  for (const auto& file : corpus("msg-read-")) bodies.push_back(read_file(file));
  ReadResponse mixed;
  mixed.header.request_handle = 9;
  mixed.header.service_result.code = 0x40000000;
  DataValue& array = mixed.results.emplace_back();
  array.value.emplace();
  array.value->is_array = true;
  array.value->array_type = 6;
  array.value->array = {std::int32_t{1}, std::int32_t{-2}, std::int32_t{3}};
  array.value->dimensions = {3};
  DataValue& flat = mixed.results.emplace_back();
  flat.value.emplace();
  flat.value->is_array = true;
  flat.value->array_type = 11;
  flat.value->array = {0.5};
  DataValue& full = mixed.results.emplace_back();
  full.value = scalar(std::nan(""));
  full.status = StatusCode{0x80310000};
  full.source_timestamp = DateTime{1};
  full.source_picoseconds = 2;
  full.server_timestamp = DateTime{3};
  full.server_picoseconds = 4;
  mixed.results.emplace_back();  // nothing at all
  mixed.results.emplace_back().value = scalar(std::string("text"));
  mixed.results.emplace_back().value = scalar(Box<Variant>(scalar(2.5)));
  mixed.results.emplace_back().status = StatusCode{sc::kBadNodeIdUnknown};
  mixed.results.emplace_back().value = scalar(31.5);
  mixed.diagnostic_infos.emplace_back().symbolic_id = 1;
  bodies.push_back(encode_message(mixed));
  return bodies;
}

TEST(StreamedReads, GiveWhatTheWholeResponseHoldsInOrder) {
  const auto bodies = read_responses();
  ASSERT_GE(bodies.size(), 3u);
  for (const Bytes& body : bodies) {
    Response whole;
    ASSERT_EQ(decode_response(body, whole), HUBLET_STATUS_GOOD);
    const auto& read = std::get<ReadResponse>(whole);
    const Streamed got = streamed(body);
    ASSERT_EQ(got.status, HUBLET_STATUS_GOOD);
    EXPECT_EQ(encode_to_bytes(got.header), encode_to_bytes(read.header));
    EXPECT_EQ(got.results, read.results.size());
    ASSERT_EQ(got.values.size(), read.results.size());
    for (std::size_t i = 0; i < read.results.size(); ++i)
      EXPECT_EQ(got.values[i], encode_to_bytes(read.results[i])) << "result " << i;
  }
}

TEST(StreamedReads, RefuseWhatTheWholeDecodeRefusesWithTheSameStatus) {
  std::vector<Bytes> refused;
  for (const Bytes& body : read_responses()) {
    for (std::size_t n = 0; n < body.size(); ++n) refused.emplace_back(body.begin(), body.begin() + n);
    refused.push_back(body);
    refused.back().push_back(0);
  }
  refused.push_back(encode_message(ReadRequest{}));
  for (const Bytes& body : refused) {
    Response whole;
    const HUBLET_STATUS expected = decode_response(body, whole);
    ASSERT_NE(expected, HUBLET_STATUS_GOOD);
    const Streamed got = streamed(body);
    ASSERT_EQ(got.status, expected) << body.size() << " bytes";
    EXPECT_EQ(got.results, 0u);
  }
  EXPECT_EQ(streamed(read_file(std::filesystem::path(HUBLET_CORPUS_DIR) / "msg-browse.bin")).status,
            HUBLET_STATUS_MALFORMED)
      << "another response";
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
  EXPECT_EQ(assembler.add(chunk('F', 4, "12345"), complete, m), HUBLET_STATUS_TOO_LARGE)
      << "a whole message too";
  EXPECT_FALSE(complete);
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

// --- text forms -----------------------------------------------------------

NodeId guid_id(std::uint16_t ns) {
  NodeId id;
  id.namespace_index = ns;
  id.kind = NodeId::Kind::kGuid;
  id.guid = Guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
  return id;
}

NodeId opaque_id(std::uint16_t ns, std::string bytes) {
  NodeId id;
  id.namespace_index = ns;
  id.kind = NodeId::Kind::kOpaque;
  id.text = std::move(bytes);
  return id;
}

TEST(NodeIdText, EveryIdentifierTypePrintsInTheStandardFormAndReadsBack) {
  const struct {
    NodeId id;
    std::string text;
  } cases[] = {
      {NodeId::numeric_id(0, 85), "i=85"},
      {NodeId::numeric_id(2, 4294967295u), "ns=2;i=4294967295"},
      {NodeId::string_id(2, "S1.MV1"), "ns=2;s=S1.MV1"},
      {NodeId::string_id(2, "12345"), "ns=2;s=12345"},
      {NodeId::string_id(0, "x"), "s=x"},
      {NodeId::string_id(65535, "a;b=c;ns=3;i=4"), "ns=65535;s=a;b=c;ns=3;i=4"},
      {NodeId::string_id(1, " blank\t\n\\ "), "ns=1;s= blank\t\n\\ "},
      {guid_id(1), "ns=1;g=72962b91-fa75-4ae6-8d28-b404dc7daf63"},
      {opaque_id(1, std::string("\x00\xFF\x10;=", 5)), "ns=1;b=AP8QOz0="},
      {opaque_id(3, "a"), "ns=3;b=YQ=="},
      {opaque_id(3, "ab"), "ns=3;b=YWI="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(to_string(c.id), c.text);
    NodeId back;
    std::string error;
    ASSERT_TRUE(parse_node_id(c.text, back, error)) << error;
    EXPECT_EQ(back, c.id);
  }
  // Upper-case GUIDs, and the short form, which is always a string id.
  NodeId back;
  std::string error;
  ASSERT_TRUE(parse_node_id("ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63", back, error));
  EXPECT_EQ(back, guid_id(1));
  for (const auto& [text, id] : {std::pair{"2:12345", NodeId::string_id(2, "12345")},
                                 std::pair{"2:S1.MV1", NodeId::string_id(2, "S1.MV1")},
                                 std::pair{"0:ns=1;i=2", NodeId::string_id(0, "ns=1;i=2")}}) {
    ASSERT_TRUE(parse_node_id(text, back, error)) << text << ": " << error;
    EXPECT_EQ(back, id) << text;
  }
}

TEST(NodeIdText, HostileTextIsRefusedWithAReasonAndLeavesTheOutputAlone) {
  const struct {
    const char* text;
    const char* reason;  // part of the error
  } cases[] = {
      {"", "expected ns=N;i=DIGITS"},
      {"S1.MV1", "expected ns=N;i=DIGITS"},
      {"x=5", "expected ns=N;i=DIGITS"},
      {"ns=2", "followed by ';'"},
      {"ns=;s=x", "namespace index"},
      {"ns=65536;s=x", "namespace index"},
      {"ns=-1;s=x", "namespace index"},
      {"ns= 2;s=x", "namespace index"},
      {"65536:x", "namespace index"},
      {"2:", "string identifier is empty"},
      {"ns=2;s=", "string identifier is empty"},
      {"nsu=urn:x;s=y", "namespace URIs"},
      {"ns=2;i=", "numeric identifier"},
      {"ns=2;i=4294967296", "numeric identifier"},
      {"ns=2;i=-1", "numeric identifier"},
      {"ns=2;i=+1", "numeric identifier"},
      {"ns=2;i=12a", "numeric identifier"},
      {"ns=2;i=99999999999999999999999999999", "numeric identifier"},
      {"ns=2;g=72962b91fa754ae68d28b404dc7daf63", "GUID"},
      {"ns=2;g=72962b91-fa75-4ae6-8d28-b404dc7daf6", "GUID"},
      {"ns=2;g=72962b91-fa75-4ae6-8d28-b404dc7daf6g", "GUID"},
      {"ns=2;g=+2962b91-fa75-4ae6-8d28-b404dc7daf63", "GUID"},
      {"ns=2;g={72962b91-fa75-4ae6-8d28-b404dc7daf63}", "GUID"},
      {"ns=2;b=", "base64"},
      {"ns=2;b=YQ", "base64"},
      {"ns=2;b=YQ=", "base64"},
      {"ns=2;b=Y===", "base64"},
      {"ns=2;b=YR==", "base64"},  // unused bits set: not the canonical text of any bytes
      {"ns=2;b=Y=Q=", "base64"},
      {"ns=2;b=YQ==\n", "base64"},
      {"ns=2;b=-_8=", "base64"},
  };
  for (const auto& c : cases) {
    NodeId id = NodeId::string_id(9, "kept");
    std::string error;
    EXPECT_FALSE(parse_node_id(c.text, id, error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(id, NodeId::string_id(9, "kept")) << c.text;
  }
}

TEST(NodeIdText, TheLibrarysDescriptorsRoundTripAndKeepTheOldRuleForAuto) {
  const struct {
    int ns;
    const char* name;
    int identifier_type;
    std::string text;
  } cases[] = {
      {2, "12345", HUBLET_IDTYPE_STRING, "ns=2;s=12345"},
      {2, "12345", HUBLET_IDTYPE_NUMERIC, "ns=2;i=12345"},
      {2, "12345", HUBLET_IDTYPE_AUTO, "ns=2;i=12345"},
      {2, "T1.PV", HUBLET_IDTYPE_AUTO, "ns=2;s=T1.PV"},
      {1, "72962b91-fa75-4ae6-8d28-b404dc7daf63", HUBLET_IDTYPE_GUID,
       "ns=1;g=72962b91-fa75-4ae6-8d28-b404dc7daf63"},
      {1, "AP8QOz0=", HUBLET_IDTYPE_OPAQUE, "ns=1;b=AP8QOz0="},
      {1, "not base64", HUBLET_IDTYPE_OPAQUE, ""},
      {1, "x", 9, ""},
      {70000, "x", HUBLET_IDTYPE_STRING, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TagDescriptor node;
    node.namespace_index = c.ns;
    node.tag_name = c.name;
    node.identifier_type = c.identifier_type;
    EXPECT_EQ(node_id_text(node), c.text);
    if (c.text.empty()) continue;
    TagDescriptor back;
    back.data_type = HUBLET_DATATYPE_DOUBLE;
    std::string error;
    ASSERT_TRUE(parse_node_id(c.text, back, error)) << error;
    EXPECT_EQ(node_id_text(back), c.text);
    EXPECT_NE(back.identifier_type, HUBLET_IDTYPE_AUTO);
    EXPECT_EQ(back.data_type, HUBLET_DATATYPE_DOUBLE) << "left as it was";
  }
}

TEST(DateTimeText, Iso8601InUtcWithTheFractionItNeeds) {
  constexpr std::int64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 in ticks
  constexpr std::int64_t kSecond = 10000000;
  const struct {
    std::int64_t ticks;
    const char* text;
  } cases[] = {
      {0, "1601-01-01T00:00:00Z"},
      {kUnixEpoch, "1970-01-01T00:00:00Z"},
      {kUnixEpoch + 1796828646LL * kSecond + 1230000, "2026-12-09T15:04:06.123Z"},
      {kUnixEpoch + 951782400LL * kSecond + 1, "2000-02-29T00:00:00.0000001Z"},
      {kUnixEpoch - 1, "1969-12-31T23:59:59.9999999Z"},
      {-1, "1600-12-31T23:59:59.9999999Z"},
      {2650467743999999999, "9999-12-31T23:59:59.9999999Z"},
      {std::numeric_limits<std::int64_t>::max(), "+30828-09-14T02:48:05.4775807Z"},
      {std::numeric_limits<std::int64_t>::min(), "-27627-04-19T21:11:54.5224192Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(date_time_text(hublet::DateTime{c.ticks}), c.text) << c.ticks;
}

TEST(StatusText, StandardNamesWithTheirCodeAndTheHexFormOtherwise) {
  const struct {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {0x00000000, "Good (0x00000000)"},
      {0x803B0000, "BadNotWritable (0x803B0000)"},
      {0x80340000, "BadNodeIdUnknown (0x80340000)"},
      {0x80740000, "BadTypeMismatch (0x80740000)"},
      {0x80550000, "BadSecurityPolicyRejected (0x80550000)"},
      {0x80310000, "BadNoCommunication (0x80310000)"},
      {0x40900000, "UncertainLastUsableValue (0x40900000)"},
      {0x40920000, "UncertainInitialValue (0x40920000)"},
      {0x80340400, "BadNodeIdUnknown (0x80340400)"},  // info bits keep the name
      {0x80FF0000, "0x80FF0000"},
      {0xFFFF0000, "0xFFFF0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(server_status_text(c.code), c.text);
}

// --- values written -------------------------------------------------------------

TEST(ExactWrites, IntegersKeepEveryBitAndNothingIsRoundedIntoAnInteger) {
  const auto fits = [](const ExactValue& v, int type) {
    Variant out;
    return to_variant(v, type, out) == HUBLET_STATUS_GOOD ? std::optional<Scalar>(out.value) : std::nullopt;
  };
  constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
  constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();
  const struct {
    ExactValue value;
    int type;
    std::optional<Scalar> written;  // none: refused
  } cases[] = {
      {std::int64_t{9007199254740993}, HUBLET_DATATYPE_INT64, std::int64_t{9007199254740993}},
      {kInt64Min, HUBLET_DATATYPE_INT64, kInt64Min},
      {kUInt64Max, HUBLET_DATATYPE_UINT64, kUInt64Max},
      {kUInt64Max, HUBLET_DATATYPE_INT64, std::nullopt},
      {std::int64_t{-1}, HUBLET_DATATYPE_UINT64, std::nullopt},
      {std::int64_t{2147483648}, HUBLET_DATATYPE_INT32, std::nullopt},
      {std::int64_t{-128}, HUBLET_DATATYPE_SBYTE, std::int8_t{-128}},
      {std::int64_t{256}, HUBLET_DATATYPE_BYTE, std::nullopt},
      {9223372036854775808.0, HUBLET_DATATYPE_INT64, std::nullopt},
      {9223372036854775808.0, HUBLET_DATATYPE_UINT64, std::uint64_t{9223372036854775808u}},
      {2.5, HUBLET_DATATYPE_INT16, std::nullopt},
      {-0.0, HUBLET_DATATYPE_INT32, std::int32_t{0}},
      {std::string("5"), HUBLET_DATATYPE_INT32, std::nullopt},
      {true, HUBLET_DATATYPE_INT32, std::nullopt},
      {true, HUBLET_DATATYPE_BOOLEAN, true},
      {std::uint64_t{1}, HUBLET_DATATYPE_BOOLEAN, true},
      {std::int64_t{2}, HUBLET_DATATYPE_BOOLEAN, std::nullopt},
      {std::int64_t{9007199254740993}, HUBLET_DATATYPE_DOUBLE, 9007199254740992.0},
      {std::int64_t{16777217}, HUBLET_DATATYPE_FLOAT, 16777216.0f},
      {1e39, HUBLET_DATATYPE_FLOAT, std::nullopt},
      {std::string("x"), HUBLET_DATATYPE_DOUBLE, std::nullopt},
      {std::string("a\tb"), HUBLET_DATATYPE_STRING, std::string("a\tb")},
      {kUInt64Max, HUBLET_DATATYPE_STRING, std::string("18446744073709551615")},
      {0.1, HUBLET_DATATYPE_STRING, std::string("0.1")},
      {false, HUBLET_DATATYPE_STRING, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(exact_value_text(c.value) + " as " + data_type_name(c.type));
    EXPECT_EQ(fits(c.value, c.type), c.written);
  }
  Variant out;
  EXPECT_EQ(to_variant(1.0, HUBLET_DATATYPE_DATETIME, out), HUBLET_STATUS_UNSUPPORTED);
  EXPECT_EQ(to_variant(1.0, HUBLET_DATATYPE_UNKNOWN, out), HUBLET_STATUS_UNSUPPORTED);
}

}  // namespace
}  // namespace hublet::ua
