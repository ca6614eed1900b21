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

TsdbHistorian::TsdbHistorian(tsdbpy::conn::Settings settings, std::string endpoint,
                             std::optional<int> keep_days)
    : settings_(std::move(settings)), endpoint_(std::move(endpoint)), keep_days_(keep_days) {}

// Values of a day without its partition still go in (to the default one),
// so a failed upkeep costs nothing now and is tried again in an interval.
void TsdbHistorian::keep_partitions() {
  next_upkeep_ = std::chrono::steady_clock::now() + kUpkeepInterval;
  try {
    tsdbpy::tsdata::upkeep_partitions(conn_, std::chrono::system_clock::now(), keep_days_);
  } catch (const tsdbpy::Error&) {
    if (!conn_) throw;
  }
}

void TsdbHistorian::open(const std::vector<std::string>& node_ids) {
  conn_.close();
  try {
    conn_ = tsdbpy::conn::get_conn(settings_, interrupt_.fd());
    source_id_ = _tsdb_ensure_source(conn_, endpoint_);
    tag_ids_ = tsdbpy::tag::find_or_register_tags(conn_, node_ids, source_id_);
    keep_partitions();
  } catch (...) {
    conn_.close();
    throw;
  }
}

void TsdbHistorian::add(const std::vector<std::string>& node_ids) {
  try {
    const std::vector<int> ids = tsdbpy::tag::find_or_register_tags(conn_, node_ids, source_id_);
    tag_ids_.insert(tag_ids_.end(), ids.begin(), ids.end());
  } catch (...) {
    conn_.close();
    throw;
  }
}

tsdbpy::Result TsdbHistorian::write(std::span<const Poll> polls) {
  if (std::chrono::steady_clock::now() >= next_upkeep_) {
    try {
      keep_partitions();
    } catch (const tsdbpy::Error& e) {
      conn_.close();
      return tsdbpy::Result{false, e.what()};
    }
  }
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
