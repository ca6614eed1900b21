#include "ua_binary.h"

#include <utility>

namespace hublet::ua {

namespace {

// Leaves the nesting level on every path out of a recursive decoder.
class Nested {
 public:
  explicit Nested(Reader& r) : r_(r), entered_(r.enter()) {}
  ~Nested() { r_.leave(); }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
  bool ok() const { return entered_; }

 private:
  Reader& r_;
  bool entered_;
};

template <typename S, typename U>
bool decode_signed(Reader& r, S& v) {
  U raw = 0;
  if (!r.uint(raw)) return false;
  v = static_cast<S>(raw);
  return true;
}

bool decode_bytes(Reader& r, std::string& v) {
  std::size_t n = 0;
  if (!r.length(n)) return false;
  const std::uint8_t* p = nullptr;
  if (!r.take(n, p)) return false;
  v.assign(reinterpret_cast<const char*>(p), n);
  return true;
}

void encode_bytes(Writer& w, const std::string& v) {
  w.length(v.size(), true);
  w.raw(v.data(), v.size());
}

template <typename T>
bool decode_optional(Reader& r, bool present, std::optional<T>& v) {
  if (!present) return true;
  return decode(r, v.emplace());
}

template <std::size_t I>
bool decode_alternative(Reader& r, Scalar& s) {
  if constexpr (I == 0) {
    return r.fail(HUBLET_STATUS_MALFORMED);
  } else {
    return decode(r, s.template emplace<I>());
  }
}

template <std::size_t... I>
bool decode_scalar(Reader& r, std::size_t type, Scalar& s, std::index_sequence<I...>) {
  using Decoder = bool (*)(Reader&, Scalar&);
  static constexpr Decoder kByType[] = {&decode_alternative<I>...};
  return kByType[type](r, s);
}

// Variant scalar of built-in type `type` (1..25) into `s`.
bool decode_scalar(Reader& r, std::size_t type, Scalar& s) {
  if (type == 0 || type > kMaxBuiltinType) return r.fail(HUBLET_STATUS_MALFORMED);
  return decode_scalar(r, type, s, std::make_index_sequence<std::variant_size_v<Scalar>>{});
}

void encode_scalar(Writer& w, const Scalar& s) {
  std::visit(
      [&w](const auto& v) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) encode(w, v);
      },
      s);
}

constexpr std::uint8_t kArrayBit = 0x80;
constexpr std::uint8_t kDimensionsBit = 0x40;
constexpr std::uint8_t kTypeMask = 0x3F;

}  // namespace

// --- primitives -----------------------------------------------------------

bool decode(Reader& r, bool& v) {
  std::uint8_t b = 0;
  if (!r.uint(b)) return false;
  v = b != 0;
  return true;
}
bool decode(Reader& r, std::int8_t& v) {
  return decode_signed<std::int8_t, std::uint8_t>(r, v);
}
bool decode(Reader& r, std::uint8_t& v) {
  return r.uint(v);
}
bool decode(Reader& r, std::int16_t& v) {
  return decode_signed<std::int16_t, std::uint16_t>(r, v);
}
bool decode(Reader& r, std::uint16_t& v) {
  return r.uint(v);
}
bool decode(Reader& r, std::int32_t& v) {
  return decode_signed<std::int32_t, std::uint32_t>(r, v);
}
bool decode(Reader& r, std::uint32_t& v) {
  return r.uint(v);
}
bool decode(Reader& r, std::int64_t& v) {
  return decode_signed<std::int64_t, std::uint64_t>(r, v);
}
bool decode(Reader& r, std::uint64_t& v) {
  return r.uint(v);
}
bool decode(Reader& r, float& v) {
  std::uint32_t raw = 0;
  if (!r.uint(raw)) return false;
  v = std::bit_cast<float>(raw);
  return true;
}
bool decode(Reader& r, double& v) {
  std::uint64_t raw = 0;
  if (!r.uint(raw)) return false;
  v = std::bit_cast<double>(raw);
  return true;
}
bool decode(Reader& r, std::string& v) {
  return decode_bytes(r, v);
}
bool decode(Reader& r, DateTime& v) {
  return decode(r, v.ticks);
}
bool decode(Reader& r, Guid& v) {
  if (!(r.uint(v.data1) && r.uint(v.data2) && r.uint(v.data3))) return false;
  for (auto& b : v.data4) {
    if (!r.uint(b)) return false;
  }
  return true;
}
bool decode(Reader& r, ByteString& v) {
  return decode_bytes(r, v.bytes);
}
bool decode(Reader& r, XmlElement& v) {
  return decode_bytes(r, v.text);
}
bool decode(Reader& r, StatusCode& v) {
  return r.uint(v.code);
}

void encode(Writer& w, bool v) {
  w.uint(static_cast<std::uint8_t>(v ? 1 : 0));
}
void encode(Writer& w, std::int8_t v) {
  w.uint(static_cast<std::uint8_t>(v));
}
void encode(Writer& w, std::uint8_t v) {
  w.uint(v);
}
void encode(Writer& w, std::int16_t v) {
  w.uint(static_cast<std::uint16_t>(v));
}
void encode(Writer& w, std::uint16_t v) {
  w.uint(v);
}
void encode(Writer& w, std::int32_t v) {
  w.uint(static_cast<std::uint32_t>(v));
}
void encode(Writer& w, std::uint32_t v) {
  w.uint(v);
}
void encode(Writer& w, std::int64_t v) {
  w.uint(static_cast<std::uint64_t>(v));
}
void encode(Writer& w, std::uint64_t v) {
  w.uint(v);
}
void encode(Writer& w, float v) {
  w.uint(std::bit_cast<std::uint32_t>(v));
}
void encode(Writer& w, double v) {
  w.uint(std::bit_cast<std::uint64_t>(v));
}
void encode(Writer& w, const std::string& v) {
  encode_bytes(w, v);
}
void encode(Writer& w, const DateTime& v) {
  encode(w, v.ticks);
}
void encode(Writer& w, const Guid& v) {
  w.uint(v.data1);
  w.uint(v.data2);
  w.uint(v.data3);
  w.raw(v.data4.data(), v.data4.size());
}
void encode(Writer& w, const ByteString& v) {
  encode_bytes(w, v.bytes);
}
void encode(Writer& w, const XmlElement& v) {
  encode_bytes(w, v.text);
}
void encode(Writer& w, const StatusCode& v) {
  w.uint(v.code);
}

// --- node ids -------------------------------------------------------------

namespace {

constexpr std::uint8_t kNamespaceUriFlag = 0x80;
constexpr std::uint8_t kServerIndexFlag = 0x40;

bool decode_node_id_body(Reader& r, std::uint8_t encoding, NodeId& v) {
  v = NodeId{};
  switch (encoding) {
    case 0x00: {  // two-byte
      std::uint8_t id = 0;
      if (!r.uint(id)) return false;
      v.numeric = id;
      return true;
    }
    case 0x01: {  // four-byte
      std::uint8_t ns = 0;
      std::uint16_t id = 0;
      if (!(r.uint(ns) && r.uint(id))) return false;
      v.namespace_index = ns;
      v.numeric = id;
      return true;
    }
    case 0x02:
      return r.uint(v.namespace_index) && r.uint(v.numeric);
    case 0x03:
      v.kind = NodeId::Kind::kString;
      return r.uint(v.namespace_index) && decode_bytes(r, v.text);
    case 0x04:
      v.kind = NodeId::Kind::kGuid;
      return r.uint(v.namespace_index) && decode(r, v.guid);
    case 0x05:
      v.kind = NodeId::Kind::kOpaque;
      return r.uint(v.namespace_index) && decode_bytes(r, v.text);
    default:
      return r.fail(HUBLET_STATUS_MALFORMED);
  }
}

void encode_node_id(Writer& w, const NodeId& v, std::uint8_t flags) {
  switch (v.kind) {
    case NodeId::Kind::kNumeric:
      if (v.namespace_index == 0 && v.numeric <= 0xFF) {
        w.uint(flags);
        w.uint(static_cast<std::uint8_t>(v.numeric));
      } else if (v.namespace_index <= 0xFF && v.numeric <= 0xFFFF) {
        w.uint(static_cast<std::uint8_t>(flags | 0x01));
        w.uint(static_cast<std::uint8_t>(v.namespace_index));
        w.uint(static_cast<std::uint16_t>(v.numeric));
      } else {
        w.uint(static_cast<std::uint8_t>(flags | 0x02));
        w.uint(v.namespace_index);
        w.uint(v.numeric);
      }
      return;
    case NodeId::Kind::kString:
      w.uint(static_cast<std::uint8_t>(flags | 0x03));
      w.uint(v.namespace_index);
      encode_bytes(w, v.text);
      return;
    case NodeId::Kind::kGuid:
      w.uint(static_cast<std::uint8_t>(flags | 0x04));
      w.uint(v.namespace_index);
      encode(w, v.guid);
      return;
    case NodeId::Kind::kOpaque:
      w.uint(static_cast<std::uint8_t>(flags | 0x05));
      w.uint(v.namespace_index);
      encode_bytes(w, v.text);
      return;
  }
}

}  // namespace

bool decode(Reader& r, NodeId& v) {
  std::uint8_t encoding = 0;
  if (!r.uint(encoding)) return false;
  return decode_node_id_body(r, encoding, v);  // the expanded flags are not allowed here
}

void encode(Writer& w, const NodeId& v) {
  encode_node_id(w, v, 0);
}

bool decode(Reader& r, ExpandedNodeId& v) {
  std::uint8_t encoding = 0;
  if (!r.uint(encoding)) return false;
  v = ExpandedNodeId{};
  if (!decode_node_id_body(r, encoding & 0x3F, v.node_id)) return false;
  if ((encoding & kNamespaceUriFlag) && !decode_bytes(r, v.namespace_uri)) return false;
  if ((encoding & kServerIndexFlag) && !r.uint(v.server_index)) return false;
  return true;
}

void encode(Writer& w, const ExpandedNodeId& v) {
  std::uint8_t flags = 0;
  if (!v.namespace_uri.empty()) flags |= kNamespaceUriFlag;
  if (v.server_index != 0) flags |= kServerIndexFlag;
  encode_node_id(w, v.node_id, flags);
  if (!v.namespace_uri.empty()) encode_bytes(w, v.namespace_uri);
  if (v.server_index != 0) w.uint(v.server_index);
}

// --- composite built-ins --------------------------------------------------

bool decode(Reader& r, LocalizedText& v) {
  std::uint8_t mask = 0;
  if (!r.uint(mask)) return false;
  v = LocalizedText{};
  return decode_optional(r, mask & 0x01, v.locale) && decode_optional(r, mask & 0x02, v.text);
}

void encode(Writer& w, const LocalizedText& v) {
  w.uint(static_cast<std::uint8_t>((v.locale ? 0x01 : 0) | (v.text ? 0x02 : 0)));
  if (v.locale) encode(w, *v.locale);
  if (v.text) encode(w, *v.text);
}

bool decode(Reader& r, ExtensionObject& v) {
  Nested nested(r);
  if (!nested.ok()) return false;
  v = ExtensionObject{};
  std::uint8_t encoding = 0;
  if (!(decode(r, v.type_id) && r.uint(encoding))) return false;
  if (encoding > 2) return r.fail(HUBLET_STATUS_MALFORMED);
  v.encoding = static_cast<ExtensionObject::Encoding>(encoding);
  return encoding == 0 || decode_bytes(r, v.body);
}

void encode(Writer& w, const ExtensionObject& v) {
  encode(w, v.type_id);
  w.uint(static_cast<std::uint8_t>(v.encoding));
  if (v.encoding != ExtensionObject::Encoding::kNone) {
    // A body is always sent, even an empty one.
    w.length(v.body.size(), false);
    w.raw(v.body.data(), v.body.size());
  }
}

bool decode(Reader& r, DiagnosticInfo& v) {
  Nested nested(r);
  if (!nested.ok()) return false;
  std::uint8_t mask = 0;
  if (!r.uint(mask)) return false;
  v = DiagnosticInfo{};
  if (!(decode_optional(r, mask & 0x01, v.symbolic_id) && decode_optional(r, mask & 0x02, v.namespace_uri) &&
        decode_optional(r, mask & 0x08, v.locale) && decode_optional(r, mask & 0x04, v.localized_text) &&
        decode_optional(r, mask & 0x10, v.additional_info) &&
        decode_optional(r, mask & 0x20, v.inner_status_code))) {
    return false;
  }
  if (mask & 0x40) return decode(r, v.inner.emplace_back());
  return true;
}

void encode(Writer& w, const DiagnosticInfo& v) {
  const std::uint8_t mask = static_cast<std::uint8_t>(
      (v.symbolic_id ? 0x01 : 0) | (v.namespace_uri ? 0x02 : 0) | (v.localized_text ? 0x04 : 0) |
      (v.locale ? 0x08 : 0) | (v.additional_info ? 0x10 : 0) | (v.inner_status_code ? 0x20 : 0) |
      (v.inner.empty() ? 0 : 0x40));
  w.uint(mask);
  if (v.symbolic_id) encode(w, *v.symbolic_id);
  if (v.namespace_uri) encode(w, *v.namespace_uri);
  if (v.locale) encode(w, *v.locale);
  if (v.localized_text) encode(w, *v.localized_text);
  if (v.additional_info) encode(w, *v.additional_info);
  if (v.inner_status_code) encode(w, *v.inner_status_code);
  if (!v.inner.empty()) encode(w, v.inner.front());
}

bool decode(Reader& r, Variant& v) {
  Nested nested(r);
  if (!nested.ok()) return false;
  std::uint8_t mask = 0;
  if (!r.uint(mask)) return false;
  // Emptied field by field: a Variant reused for many values keeps its storage.
  v.value.emplace<0>();
  v.is_array = false;
  v.array_type = 0;
  v.array.clear();
  v.dimensions.clear();
  const std::uint8_t type = mask & kTypeMask;
  if (type == 0) {
    if (mask != 0) return r.fail(HUBLET_STATUS_MALFORMED);
    return true;
  }
  if (type > kMaxBuiltinType) return r.fail(HUBLET_STATUS_MALFORMED);
  if (!(mask & kArrayBit)) {
    if (mask & kDimensionsBit) return r.fail(HUBLET_STATUS_MALFORMED);
    return decode_scalar(r, type, v.value);
  }
  v.is_array = true;
  v.array_type = type;
  std::size_t n = 0;
  if (!r.length(n)) return false;
  v.array.reserve(n < 1024 ? n : 1024);
  for (std::size_t i = 0; i < n; ++i) {
    if (!decode_scalar(r, type, v.array.emplace_back())) return false;
  }
  if (mask & kDimensionsBit) return decode(r, v.dimensions);
  return true;
}

void encode(Writer& w, const Variant& v) {
  if (!v.is_array) {
    w.uint(static_cast<std::uint8_t>(v.value.index()));
    encode_scalar(w, v.value);
    return;
  }
  std::uint8_t mask = static_cast<std::uint8_t>(v.array_type | kArrayBit);
  if (!v.dimensions.empty()) mask |= kDimensionsBit;
  w.uint(mask);
  w.length(v.array.size(), false);
  for (const Scalar& s : v.array) encode_scalar(w, s);
  if (!v.dimensions.empty()) encode(w, v.dimensions);
}

bool decode(Reader& r, DataValue& v) {
  Nested nested(r);
  if (!nested.ok()) return false;
  std::uint8_t mask = 0;
  if (!r.uint(mask)) return false;
  // Emptied field by field: a DataValue reused for many values keeps its
  // Variant.
  v.status.reset();
  v.source_timestamp.reset();
  v.source_picoseconds.reset();
  v.server_timestamp.reset();
  v.server_picoseconds.reset();
  if (!(mask & 0x01)) {
    v.value.reset();
  } else if (!v.value) {
    v.value.emplace();
  }
  return (!v.value || decode(r, *v.value)) && decode_optional(r, mask & 0x02, v.status) &&
         decode_optional(r, mask & 0x04, v.source_timestamp) &&
         decode_optional(r, mask & 0x10, v.source_picoseconds) &&
         decode_optional(r, mask & 0x08, v.server_timestamp) &&
         decode_optional(r, mask & 0x20, v.server_picoseconds);
}

void encode(Writer& w, const DataValue& v) {
  const std::uint8_t mask =
      static_cast<std::uint8_t>((v.value ? 0x01 : 0) | (v.status ? 0x02 : 0) |
                                (v.source_timestamp ? 0x04 : 0) | (v.server_timestamp ? 0x08 : 0) |
                                (v.source_picoseconds ? 0x10 : 0) | (v.server_picoseconds ? 0x20 : 0));
  w.uint(mask);
  if (v.value) encode(w, *v.value);
  if (v.status) encode(w, *v.status);
  if (v.source_timestamp) encode(w, *v.source_timestamp);
  if (v.source_picoseconds) encode(w, *v.source_picoseconds);
  if (v.server_timestamp) encode(w, *v.server_timestamp);
  if (v.server_picoseconds) encode(w, *v.server_picoseconds);
}

}  // namespace hublet::ua
