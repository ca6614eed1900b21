#include "ua_services.h"

namespace hublet::ua {

namespace {

template <std::size_t I>
HUBLET_STATUS decode_alternative(Reader& r, Response& out) {
  using Message = std::variant_alternative_t<I, Response>;
  Message message;
  if (!decode(r, message)) return r.status();
  if (r.remaining() != 0) return HUBLET_STATUS_MALFORMED;
  out = std::move(message);
  return HUBLET_STATUS_GOOD;
}

template <std::size_t... I>
HUBLET_STATUS decode_by_id(Reader& r, std::uint32_t id, Response& out, std::index_sequence<I...>) {
  HUBLET_STATUS status = HUBLET_STATUS_MALFORMED;  // not a response we know
  (void)((std::variant_alternative_t<I + 1, Response>::kBinaryId == id &&
          (status = decode_alternative<I + 1>(r, out), true)) ||
         ...);
  return status;
}

}  // namespace

const ResponseHeader& response_header(const Response& response) {
  static const ResponseHeader kEmpty;
  return std::visit(
      [](const auto& m) -> const ResponseHeader& {
        if constexpr (std::is_same_v<std::decay_t<decltype(m)>, std::monostate>) {
          return kEmpty;
        } else {
          return m.header;
        }
      },
      response);
}

HUBLET_STATUS decode_response(std::span<const std::uint8_t> body, Response& out) {
  out = std::monostate{};
  Reader r(body);
  NodeId type;
  if (!decode(r, type)) return r.status();
  if (type.namespace_index != 0 || type.kind != NodeId::Kind::kNumeric) return HUBLET_STATUS_MALFORMED;
  return decode_by_id(r, type.numeric, out, std::make_index_sequence<std::variant_size_v<Response> - 1>{});
}

Bytes encode_response(const Response& response) {
  Writer w;
  std::visit(
      [&w](const auto& m) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(m)>, std::monostate>) encode_message(w, m);
      },
      response);
  return std::move(w.bytes());
}

}  // namespace hublet::ua
