#include "tsdb_historian.h"

#include "tsdbpy/source.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"

namespace varnok::tessaly {

std::optional<int> _tsdb_ensure_source(tsdbpy::conn::Connection& tsdb_conn, const std::string& opc_schema) {
  using namespace tsdbpy::source;
  SourceInfo source;
  source.source_name = "varnok";
  source.endpoint = opc_schema;
  source.status = SourceStatus::ACTIVE;
  source.protocol = SourceProtocol::OPC_UA;

  SourceFilter flt;
  flt.names = {source.source_name};
  flt.status = {source.status};
  flt.protocol = {*source.protocol};
  for (const auto& found : get_sources(tsdb_conn, flt)) {
    if (found.endpoint == source.endpoint) return found.source_id;
  }

  source.source_type = "Simulation";
  source.interval_msec = 1000;
  source.description = {{"created_by", "varnok"},
                        {"endpoint", opc_schema},
                        {"protocol", source.protocol ? std::string(value(*source.protocol)) : "Unknown"}};
  if (!insert_new_source(tsdb_conn, source).ok) return std::nullopt;
  return source.source_id;
}

TsdbHistorian::TsdbHistorian(tsdbpy::conn::Settings settings, std::string endpoint)
    : settings_(std::move(settings)), endpoint_(std::move(endpoint)) {}

int TsdbHistorian::find_or_register(const std::string& node_id, std::optional<int> source_id) {
  if (const auto tag = tsdbpy::tag::get_tag(conn_, node_id)) return tag->tag_id.value_or(0);
  tsdbpy::tag::TagInfo tag{.tag_name = node_id, .source_id = source_id, .source_tagname = node_id};
  if (tsdbpy::tag::insert_new_tag(conn_, tag).ok) return tag.tag_id.value_or(0);
  if (!conn_) throw tsdbpy::Error("the database connection was lost while registering " + node_id);
  // Another recorder may have registered it meanwhile.
  const auto again = tsdbpy::tag::get_tag(conn_, node_id);
  return again ? again->tag_id.value_or(0) : 0;
}

void TsdbHistorian::open(const std::vector<std::string>& node_ids) {
  conn_.close();
  try {
    conn_ = tsdbpy::conn::get_conn(settings_, interrupt_.fd());
    const std::optional<int> source_id = _tsdb_ensure_source(conn_, endpoint_);
    std::vector<int> ids;
    ids.reserve(node_ids.size());
    for (const auto& node_id : node_ids) ids.push_back(find_or_register(node_id, source_id));
    tag_ids_ = std::move(ids);
  } catch (...) {
    conn_.close();
    throw;
  }
}

tsdbpy::Result TsdbHistorian::write(std::span<const Poll> polls) {
  ts_.clear();
  batch_tags_.clear();
  batch_values_.clear();
  for (const Poll& poll : polls) {
    for (std::size_t i = 0; i < poll.nodes.size() && i < poll.values.size(); ++i) {
      const std::uint32_t node = poll.nodes[i];
      if (node >= tag_ids_.size() || tag_ids_[node] == 0) continue;
      ts_.push_back(poll.read_at);
      batch_tags_.push_back(tag_ids_[node]);
      batch_values_.push_back(poll.values[i]);
    }
  }
  tsdbpy::Result result = tsdbpy::tsdata::write_tsdata(conn_, ts_, batch_tags_, batch_values_);
  if (!result.ok) conn_.close();
  return result;
}

}  // namespace varnok::tessaly
