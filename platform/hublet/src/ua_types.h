#pragma once

// OPC UA built-in types as hublet keeps them in memory. Every type can be
// decoded from and encoded to the binary form (ua_binary.h); a Variant keeps
// its built-in type id as the index of its scalar alternative.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

namespace hublet::ua {

// Value-semantic heap box for the recursive types (a Variant holding a
// DataValue holding a Variant ...). Never empty.
template <typename T>
class Box {
 public:
  Box() : p_(std::make_unique<T>()) {}
  explicit Box(T value) : p_(std::make_unique<T>(std::move(value))) {}
  Box(const Box& other) : p_(std::make_unique<T>(*other.p_)) {}
  Box(Box&&) noexcept = default;
  Box& operator=(const Box& other) {
    if (this != &other) p_ = std::make_unique<T>(*other.p_);
    return *this;
  }
  Box& operator=(Box&&) noexcept = default;
  ~Box() = default;

  T& operator*() { return *p_; }
  const T& operator*() const { return *p_; }
  T* operator->() { return p_.get(); }
  const T* operator->() const { return p_.get(); }
  friend bool operator==(const Box& a, const Box& b) { return *a.p_ == *b.p_; }

 private:
  std::unique_ptr<T> p_;
};

// Lets the generic codec walk a structure's fields in wire order.
#define HUBLET_FIELDS(...)        \
  auto fields() {                 \
    return std::tie(__VA_ARGS__); \
  }                               \
  auto fields() const {           \
    return std::tie(__VA_ARGS__); \
  }

struct DateTime {
  std::int64_t ticks = 0;  // 100 ns since 1601-01-01 UTC
  bool operator==(const DateTime&) const = default;
};
DateTime now_utc();

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  bool operator==(const Guid&) const = default;
};

// A null and an empty string are the same to hublet; both encode as null.
struct ByteString {
  std::string bytes;
  bool operator==(const ByteString&) const = default;
};

struct XmlElement {
  std::string text;
  bool operator==(const XmlElement&) const = default;
};

struct StatusCode {
  std::uint32_t code = 0;
  bool is_bad() const { return (code & 0x80000000u) != 0; }
  bool operator==(const StatusCode&) const = default;
};

struct NodeId {
  enum class Kind : std::uint8_t { kNumeric, kString, kGuid, kOpaque };
  std::uint16_t namespace_index = 0;
  Kind kind = Kind::kNumeric;
  std::uint32_t numeric = 0;
  std::string text;  // string id, or the bytes of an opaque id
  Guid guid;

  static NodeId numeric_id(std::uint16_t ns, std::uint32_t id) {
    NodeId n;
    n.namespace_index = ns;
    n.numeric = id;
    return n;
  }
  static NodeId string_id(std::uint16_t ns, std::string id) {
    NodeId n;
    n.namespace_index = ns;
    n.kind = Kind::kString;
    n.text = std::move(id);
    return n;
  }
  bool is_null() const { return namespace_index == 0 && kind == Kind::kNumeric && numeric == 0; }
  bool operator==(const NodeId&) const = default;
};

// --- text forms (ua_text.cpp) ---------------------------------------------

// The identifier's text: decimal digits, the string itself, a GUID as
// 8-4-4-4-12 lowercase hexadecimal digits, or the opaque bytes in base64.
std::string identifier_text(const NodeId& id);
// 8-4-4-4-12 lowercase hexadecimal digits.
std::string guid_text(const Guid& g);
// The standard text form: "ns=2;s=G1.T", "ns=2;i=5", "ns=1;g=GUID",
// "ns=1;b=BASE64", and "i=85" in namespace 0. A string identifier appears as
// it is: the form has no escapes, so callers that need one line escape it.
std::string to_string(const NodeId& id);
// An identifier of `kind` from its text, the inverse of identifier_text
// (GUIDs in either case; base64 padded and canonical; strings not empty).
// False with `error` saying what the text should be; `out` untouched.
bool parse_identifier(std::uint16_t ns, NodeId::Kind kind, std::string_view text, NodeId& out,
                      std::string& error);
// A node id given as text by a user or a server: the standard form above, or
// the short form "NS:NAME", which always names a string identifier. Nothing
// is trimmed (string identifiers may hold blanks). False with `error` saying
// what is wrong; `out` untouched.
bool parse_node_id(std::string_view text, NodeId& out, std::string& error);
// ISO 8601 in UTC with as many fraction digits as needed:
// "2026-12-09T15:04:06.123Z"; years beyond 0..9999 get a sign.
std::string to_iso8601(DateTime t);

struct ExpandedNodeId {
  NodeId node_id;
  std::string namespace_uri;  // empty: not sent
  std::uint32_t server_index = 0;
  bool operator==(const ExpandedNodeId&) const = default;
};

struct QualifiedName {
  std::uint16_t namespace_index = 0;
  std::string name;
  HUBLET_FIELDS(namespace_index, name)
  bool operator==(const QualifiedName&) const = default;
};

struct LocalizedText {
  std::optional<std::string> locale;
  std::optional<std::string> text;
  bool operator==(const LocalizedText&) const = default;
};

// Encoded structures travel opaque: hublet only builds the ones it sends.
struct ExtensionObject {
  enum class Encoding : std::uint8_t { kNone = 0, kBinary = 1, kXml = 2 };
  NodeId type_id;
  Encoding encoding = Encoding::kNone;
  std::string body;
  bool operator==(const ExtensionObject&) const = default;
};

struct DiagnosticInfo {
  std::optional<std::int32_t> symbolic_id;
  std::optional<std::int32_t> namespace_uri;
  std::optional<std::int32_t> localized_text;
  std::optional<std::int32_t> locale;
  std::optional<std::string> additional_info;
  std::optional<StatusCode> inner_status_code;
  std::vector<DiagnosticInfo> inner;  // zero or one
  bool operator==(const DiagnosticInfo&) const = default;
};

struct DataValue;
struct Variant;

// Alternative index == OPC UA built-in type id.
using Scalar = std::variant<std::monostate,  // 0: empty
                            bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                            std::uint32_t, std::int64_t, std::uint64_t, float, double,
                            std::string,  // 12
                            DateTime, Guid, ByteString, XmlElement, NodeId, ExpandedNodeId, StatusCode,
                            QualifiedName, LocalizedText, ExtensionObject,  // 22
                            Box<DataValue>, Box<Variant>, Box<DiagnosticInfo>>;
inline constexpr std::uint8_t kMaxBuiltinType = 25;

struct Variant {
  // Scalar: the value (monostate for an empty variant). Array: every element
  // is of array_type.
  Scalar value;
  bool is_array = false;
  std::uint8_t array_type = 0;
  std::vector<Scalar> array;
  std::vector<std::int32_t> dimensions;  // only sent when not empty

  std::uint8_t type() const { return is_array ? array_type : static_cast<std::uint8_t>(value.index()); }
  bool empty() const { return !is_array && value.index() == 0; }
  bool operator==(const Variant&) const = default;
};

struct DataValue {
  std::optional<Variant> value;
  std::optional<StatusCode> status;
  std::optional<DateTime> source_timestamp;
  std::optional<std::uint16_t> source_picoseconds;
  std::optional<DateTime> server_timestamp;
  std::optional<std::uint16_t> server_picoseconds;
  bool operator==(const DataValue&) const = default;
};

// Numeric ids of namespace 0 used by the client.
namespace id {
inline constexpr std::uint32_t kHierarchicalReferences = 33;
inline constexpr std::uint32_t kObjectsFolder = 85;
inline constexpr std::uint32_t kAnonymousIdentityTokenBinary = 321;
}  // namespace id

// Attribute ids.
namespace attr {
inline constexpr std::uint32_t kNodeClass = 2;
inline constexpr std::uint32_t kDisplayName = 4;
inline constexpr std::uint32_t kValue = 13;
inline constexpr std::uint32_t kDataType = 14;
inline constexpr std::uint32_t kAccessLevel = 17;
inline constexpr std::uint32_t kUserAccessLevel = 18;
}  // namespace attr

// OPC UA status codes hublet reacts to.
namespace sc {
inline constexpr std::uint32_t kGood = 0;
inline constexpr std::uint32_t kBadTimeout = 0x800A0000;
inline constexpr std::uint32_t kBadSecureChannelIdInvalid = 0x80220000;
inline constexpr std::uint32_t kBadSessionIdInvalid = 0x80250000;
inline constexpr std::uint32_t kBadSessionClosed = 0x80260000;
inline constexpr std::uint32_t kBadSessionNotActivated = 0x80270000;
inline constexpr std::uint32_t kBadIdentityTokenInvalid = 0x80200000;
inline constexpr std::uint32_t kBadIdentityTokenRejected = 0x80210000;
inline constexpr std::uint32_t kBadNodeIdUnknown = 0x80340000;
inline constexpr std::uint32_t kBadTcpSecureChannelUnknown = 0x807F0000;
inline constexpr std::uint32_t kBadSecureChannelClosed = 0x80860000;
inline constexpr std::uint32_t kBadSecureChannelTokenUnknown = 0x80870000;
}  // namespace sc

// "BadNodeIdUnknown (0x80340000)" for every standard code (ua_status_names.cpp),
// the hexadecimal form alone for any other.
std::string status_text(std::uint32_t code);

}  // namespace hublet::ua
