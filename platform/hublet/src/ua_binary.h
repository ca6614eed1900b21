#pragma once

// OPC UA binary encoding. Reader and Writer carry the primitive rules; the
// overloads of decode() and encode() cover the built-in types, and generic
// templates cover enumerations (Int32 on the wire), arrays and every
// structure that lists its fields with HUBLET_FIELDS.
//
// Decoding treats its input as hostile: every read checks the bytes left,
// a negative length prefix means null (kept as empty), a length prefix that
// runs past the end fails before anything is allocated, and recursive types
// nest at most kMaxNestingDepth deep. The first failure sticks in the
// Reader; callers decode into a scratch object and keep it only on success.

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "hublet/status.h"
#include "ua_types.h"

namespace hublet::ua {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kMaxNestingDepth = 32;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes)
      : pos_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  std::size_t remaining() const { return static_cast<std::size_t>(end_ - pos_); }
  bool ok() const { return status_ == HUBLET_STATUS_GOOD; }
  HUBLET_STATUS status() const { return status_; }

  // Records the first failure; always returns false.
  bool fail(HUBLET_STATUS status) {
    if (status_ == HUBLET_STATUS_GOOD) status_ = status;
    pos_ = end_;
    return false;
  }

  // n raw bytes, or BUFFER_TOO_SMALL.
  bool take(std::size_t n, const std::uint8_t*& out) {
    if (!ok()) return false;
    if (n > remaining()) return fail(HUBLET_STATUS_BUFFER_TOO_SMALL);
    out = pos_;
    pos_ += n;
    return true;
  }

  // Little-endian unsigned integer of sizeof(U) bytes.
  template <std::unsigned_integral U>
  bool uint(U& value) {
    const std::uint8_t* p = nullptr;
    if (!take(sizeof(U), p)) return false;
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i)
      v = static_cast<U>(v | static_cast<U>(static_cast<U>(p[i]) << (8 * i)));
    value = v;
    return true;
  }

  // A length prefix for `element_size`-byte (at least) elements: -1 (or any
  // negative) is null and gives 0; more elements than the bytes left could
  // hold is BUFFER_TOO_SMALL.
  bool length(std::size_t& n, std::size_t element_size = 1) {
    std::uint32_t raw = 0;
    if (!uint(raw)) return false;
    const auto signed_length = static_cast<std::int32_t>(raw);
    if (signed_length < 0) {
      n = 0;
      return true;
    }
    n = static_cast<std::size_t>(signed_length);
    if (n > remaining() / element_size) return fail(HUBLET_STATUS_BUFFER_TOO_SMALL);
    return true;
  }

  // Nesting guard for the recursive types.
  bool enter() {
    if (++depth_ > kMaxNestingDepth) return fail(HUBLET_STATUS_MALFORMED);
    return ok();
  }
  void leave() { --depth_; }

 private:
  const std::uint8_t* pos_;
  const std::uint8_t* end_;
  HUBLET_STATUS status_ = HUBLET_STATUS_GOOD;
  int depth_ = 0;
};

class Writer {
 public:
  Writer() = default;
  // Writes into `storage` from its start, keeping its capacity: a buffer
  // handed from one message to the next allocates only while it grows.
  explicit Writer(Bytes storage) : bytes_(std::move(storage)) { bytes_.clear(); }

  Bytes& bytes() { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

  template <std::unsigned_integral U>
  void uint(U value) {
    for (std::size_t i = 0; i < sizeof(U); ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void raw(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
  }
  void patch_u32(std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  // Length prefix; empty is encoded as null (-1).
  void length(std::size_t n, bool empty_as_null) {
    uint(n == 0 && empty_as_null ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n));
  }

 private:
  Bytes bytes_;
};

// Buffers kept from one message to the next hold on to at most this much:
// a rare large message (a long browse) does not keep its memory for good.
inline constexpr std::size_t kKeptBufferSize = 1u << 20;
inline void release_if_large(Bytes& buffer) {
  if (buffer.capacity() > kKeptBufferSize) Bytes().swap(buffer);
}

// --- primitives -----------------------------------------------------------

bool decode(Reader& r, bool& v);
bool decode(Reader& r, std::int8_t& v);
bool decode(Reader& r, std::uint8_t& v);
bool decode(Reader& r, std::int16_t& v);
bool decode(Reader& r, std::uint16_t& v);
bool decode(Reader& r, std::int32_t& v);
bool decode(Reader& r, std::uint32_t& v);
bool decode(Reader& r, std::int64_t& v);
bool decode(Reader& r, std::uint64_t& v);
bool decode(Reader& r, float& v);
bool decode(Reader& r, double& v);
bool decode(Reader& r, std::string& v);
bool decode(Reader& r, DateTime& v);
bool decode(Reader& r, Guid& v);
bool decode(Reader& r, ByteString& v);
bool decode(Reader& r, XmlElement& v);
bool decode(Reader& r, NodeId& v);
bool decode(Reader& r, ExpandedNodeId& v);
bool decode(Reader& r, StatusCode& v);
bool decode(Reader& r, LocalizedText& v);
bool decode(Reader& r, ExtensionObject& v);
bool decode(Reader& r, DiagnosticInfo& v);
bool decode(Reader& r, Variant& v);
bool decode(Reader& r, DataValue& v);
template <typename T>
bool decode(Reader& r, Box<T>& v) {
  return decode(r, *v);
}

void encode(Writer& w, bool v);
void encode(Writer& w, std::int8_t v);
void encode(Writer& w, std::uint8_t v);
void encode(Writer& w, std::int16_t v);
void encode(Writer& w, std::uint16_t v);
void encode(Writer& w, std::int32_t v);
void encode(Writer& w, std::uint32_t v);
void encode(Writer& w, std::int64_t v);
void encode(Writer& w, std::uint64_t v);
void encode(Writer& w, float v);
void encode(Writer& w, double v);
void encode(Writer& w, const std::string& v);
void encode(Writer& w, const DateTime& v);
void encode(Writer& w, const Guid& v);
void encode(Writer& w, const ByteString& v);
void encode(Writer& w, const XmlElement& v);
void encode(Writer& w, const NodeId& v);
void encode(Writer& w, const ExpandedNodeId& v);
void encode(Writer& w, const StatusCode& v);
void encode(Writer& w, const LocalizedText& v);
void encode(Writer& w, const ExtensionObject& v);
void encode(Writer& w, const DiagnosticInfo& v);
void encode(Writer& w, const Variant& v);
void encode(Writer& w, const DataValue& v);
template <typename T>
void encode(Writer& w, const Box<T>& v) {
  encode(w, *v);
}

// --- generic --------------------------------------------------------------

// Enumerations travel as Int32.
template <typename E>
concept WireEnum = std::is_enum_v<E> && std::same_as<std::underlying_type_t<E>, std::int32_t>;

template <WireEnum E>
bool decode(Reader& r, E& v) {
  std::int32_t raw = 0;
  if (!decode(r, raw)) return false;
  v = static_cast<E>(raw);
  return true;
}
template <WireEnum E>
void encode(Writer& w, E v) {
  encode(w, static_cast<std::int32_t>(v));
}

template <typename T>
concept Fielded = requires(T& t) {
  t.fields();
};

template <Fielded T>
bool decode(Reader& r, T& v) {
  return std::apply([&r](auto&... f) { return (decode(r, f) && ...); }, v.fields());
}
template <Fielded T>
void encode(Writer& w, const T& v) {
  std::apply([&w](const auto&... f) { (encode(w, f), ...); }, v.fields());
}

// Smallest encoded size of one element, to reject impossible counts early.
template <typename T>
constexpr std::size_t min_encoded_size() {
  if constexpr (std::is_arithmetic_v<T> || WireEnum<T>) return sizeof(T);
  if constexpr (std::same_as<T, StatusCode>) return 4;
  if constexpr (std::same_as<T, std::string> || std::same_as<T, ByteString>) return 4;
  return 1;
}

template <typename T>
bool decode(Reader& r, std::vector<T>& v) {
  std::size_t n = 0;
  if (!r.length(n, min_encoded_size<T>())) return false;
  // Grows with what actually decodes, so a large count costs nothing until
  // its elements arrive.
  std::vector<T> out;
  out.reserve(n < 1024 ? n : 1024);
  for (std::size_t i = 0; i < n; ++i) {
    if (!decode(r, out.emplace_back())) return false;
  }
  v = std::move(out);
  return true;
}
template <typename T>
void encode(Writer& w, const std::vector<T>& v) {
  w.length(v.size(), false);
  for (const T& item : v) encode(w, item);
}

// Decodes a whole buffer into `out`: trailing bytes are MALFORMED, and on
// any failure `out` is left default-constructed.
template <typename T>
HUBLET_STATUS decode_all(std::span<const std::uint8_t> bytes, T& out) {
  Reader r(bytes);
  T value{};
  if (decode(r, value) && r.remaining() != 0) r.fail(HUBLET_STATUS_MALFORMED);
  out = r.ok() ? std::move(value) : T{};
  return r.status();
}

template <typename T>
Bytes encode_to_bytes(const T& value) {
  Writer w;
  encode(w, value);
  return std::move(w.bytes());
}

}  // namespace hublet::ua
