#include "tsdbpy/source.h"

#include <array>
#include <utility>

#include "pq.h"

namespace tsdbpy::source {

namespace {

constexpr std::array<std::pair<SourceStatus, std::string_view>, 2> kStatuses{{
    {SourceStatus::ACTIVE, "active"},
    {SourceStatus::INACTIVE, "inactive"},
}};
constexpr std::array<std::pair<SourceProtocol, std::string_view>, 4> kProtocols{{
    {SourceProtocol::OPC_UA, "opcua"},
    {SourceProtocol::OPC_DA, "opcda"},
    {SourceProtocol::MODBUS_TCP, "modbus_tcp"},
    {SourceProtocol::MQTT, "mqtt"},
}};

template <typename Member, std::size_t N>
std::string_view stored_form(const std::array<std::pair<Member, std::string_view>, N>& table, Member member) {
  for (const auto& [m, text] : table) {
    if (m == member) return text;
  }
  return {};
}

template <typename Member, std::size_t N>
std::optional<Member> member_of(const std::array<std::pair<Member, std::string_view>, N>& table,
                                std::string_view stored) {
  for (const auto& [m, text] : table) {
    if (text == stored) return m;
  }
  return std::nullopt;
}

template <typename Member>
std::vector<std::string> stored_forms(const std::vector<Member>& members) {
  std::vector<std::string> out;
  out.reserve(members.size());
  for (const Member m : members) out.emplace_back(value(m));
  return out;
}

// Columns 0..8 of the select below, in binary form.
SourceInfo source_from_row(const PGresult* res, int row) {
  SourceInfo s;
  s.source_id = detail::get_int4(res, row, 0);
  s.source_name = detail::get_text(res, row, 1);
  s.endpoint = detail::get_text(res, row, 2);
  const std::string status = detail::get_text(res, row, 3);
  const auto known_status = source_status_from(status);
  if (!known_status)
    throw Error("source " + std::to_string(*s.source_id) + " has an unknown status \"" + status + "\"");
  s.status = *known_status;
  if (!detail::is_null(res, row, 4)) {
    const std::string protocol = detail::get_text(res, row, 4);
    s.protocol = source_protocol_from(protocol);
    if (!s.protocol) {
      throw Error("source " + std::to_string(*s.source_id) + " has an unknown protocol \"" + protocol + "\"");
    }
  }
  s.source_type = detail::get_text(res, row, 5);
  if (!detail::is_null(res, row, 6)) s.interval_msec = detail::get_int4(res, row, 6);
  const auto keys = detail::get_text_array(res, row, 7);
  const auto values = detail::get_text_array(res, row, 8);
  if (keys.size() != values.size()) throw Error("malformed description in the server's answer");
  for (std::size_t i = 0; i < keys.size(); ++i) s.description.emplace(keys[i], values[i]);
  return s;
}

}  // namespace

std::string_view value(SourceStatus status) noexcept {
  return stored_form(kStatuses, status);
}
std::string_view value(SourceProtocol protocol) noexcept {
  return stored_form(kProtocols, protocol);
}

std::optional<SourceStatus> source_status_from(std::string_view stored) noexcept {
  return member_of(kStatuses, stored);
}
std::optional<SourceProtocol> source_protocol_from(std::string_view stored) noexcept {
  return member_of(kProtocols, stored);
}

std::vector<SourceInfo> get_sources(conn::Connection& conn, const SourceFilter& flt) {
  // An empty list leaves its field unconstrained.
  static constexpr const char* kSql =
      "SELECT s.source_id, s.source_name, s.endpoint, s.status, s.protocol, s.source_type, s.interval_msec,"
      " d.keys, d.vals"
      " FROM sources s CROSS JOIN LATERAL"
      " (SELECT array_agg(key ORDER BY key) AS keys, array_agg(value ORDER BY key) AS vals"
      "  FROM jsonb_each_text(s.description)) d"
      " WHERE (cardinality($1::text[]) = 0 OR s.source_name = ANY ($1))"
      " AND (cardinality($2::text[]) = 0 OR s.status = ANY ($2))"
      " AND (cardinality($3::text[]) = 0 OR s.protocol = ANY ($3))"
      " ORDER BY s.source_id";
  detail::Params params;
  params.text_array(flt.names, "a source name of the filter");
  params.text_array(stored_forms(flt.status), "status");
  params.text_array(stored_forms(flt.protocol), "protocol");
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  std::vector<SourceInfo> out;
  const int rows = PQntuples(res.get());
  out.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) out.push_back(source_from_row(res.get(), row));
  return out;
}

Result insert_new_source(conn::Connection& conn, SourceInfo& source) {
  static constexpr const char* kSql =
      "INSERT INTO sources (source_name, endpoint, status, protocol, source_type, interval_msec, description)"
      " VALUES ($1, $2, $3, $4, $5, $6, jsonb_object($7, $8)) RETURNING source_id";
  try {
    std::vector<std::string> keys;
    std::vector<std::string> values;
    for (const auto& [k, v] : source.description) {
      keys.push_back(k);
      values.push_back(v);
    }
    detail::Params params;
    params.text(source.source_name, "source_name");
    params.text(source.endpoint, "endpoint");
    params.text(value(source.status), "status");
    if (source.protocol) {
      params.text(value(*source.protocol), "protocol");
    } else {
      params.null_text();
    }
    params.text(source.source_type, "source_type");
    params.int4(source.interval_msec);
    params.text_array(keys, "a description key");
    params.text_array(values, "a description value");
    const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
    source.source_id = detail::get_int4(res.get(), 0, 0);
    return Result{true, {}};
  } catch (const Error& e) {
    return detail::failed(e);
  }
}

}  // namespace tsdbpy::source
