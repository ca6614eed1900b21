#include "ua_services.h"

#include <algorithm>

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

bool message_id(std::span<const std::uint8_t> body, std::uint32_t& id) {
  Reader r(body);
  NodeId type;
  if (!decode(r, type) || type.namespace_index != 0 || type.kind != NodeId::Kind::kNumeric) return false;
  id = type.numeric;
  return true;
}

HUBLET_STATUS decode_read_response(std::span<const std::uint8_t> body, ResponseHeader& header,
                                   std::size_t& results, const ReadResultSink& each) {
  results = 0;
  Reader r(body);
  NodeId type;
  if (!decode(r, type)) return r.status();
  if (type.namespace_index != 0 || type.kind != NodeId::Kind::kNumeric ||
      type.numeric != ReadResponse::kBinaryId) {
    return HUBLET_STATUS_MALFORMED;
  }
  std::size_t n = 0;
  if (!(decode(r, header) && r.length(n, min_encoded_size<DataValue>()))) return r.status();
  DataValue value;
  for (std::size_t i = 0; i < n; ++i) {
    if (!decode(r, value)) return r.status();
    each(i, value);
  }
  std::vector<DiagnosticInfo> diagnostics;
  if (!decode(r, diagnostics)) return r.status();
  if (r.remaining() != 0) return HUBLET_STATUS_MALFORMED;
  results = n;
  return HUBLET_STATUS_GOOD;
}

ReadPlan plan_read(std::span<const ReadValueId> items, std::size_t batch) {
  batch = std::max<std::size_t>(1, batch);
  ReadPlan plan;
  for (std::size_t first = 0; first < items.size(); first += batch) {
    ReadPlan::Request& request = plan.requests.emplace_back();
    request.first = first;
    request.count = std::min(batch, items.size() - first);
    Writer w;
    w.length(request.count, false);
    for (const ReadValueId& item : items.subspan(first, request.count)) encode(w, item);
    request.nodes_to_read = std::move(w.bytes());
  }
  return plan;
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
