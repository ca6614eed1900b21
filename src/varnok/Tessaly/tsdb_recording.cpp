#include "tsdb_recording.h"

#include <iostream>

#include "tsdbpy/source.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"
#include "value_text.h"

namespace varnok::tessaly {

namespace {

void print_line(const std::string& line) {
  std::cout << line << std::endl;
}

}  // namespace

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

TsdbRecording::TsdbRecording(tsdbpy::conn::Settings settings, std::string endpoint,
                             std::chrono::milliseconds retry_interval, Say say)
    : settings_(std::move(settings)),
      endpoint_(std::move(endpoint)),
      retry_interval_(retry_interval),
      say_(say ? std::move(say) : Say(print_line)) {}

void TsdbRecording::prepare(const std::vector<std::string>& node_ids) {
  node_ids_ = node_ids;
  if (!enabled()) return;
  if (connect()) register_tags();
}

bool TsdbRecording::connect() {
  try {
    conn_ = tsdbpy::conn::get_conn(settings_);
    next_attempt_.reset();
    return true;
  } catch (const std::exception& e) {
    lost(e.what());
    return false;
  }
}

void TsdbRecording::register_tags() {
  try {
    const std::optional<int> source_id = _tsdb_ensure_source(conn_, endpoint_);
    tsdb_tag_name_id_map_.clear();
    for (const auto& node_id : node_ids_) {
      if (const auto tag = tsdbpy::tag::get_tag(conn_, node_id)) {
        if (tag->tag_id) tsdb_tag_name_id_map_[node_id] = *tag->tag_id;
        continue;
      }
      tsdbpy::tag::TagInfo tag{.tag_name = node_id, .source_id = source_id, .source_tagname = node_id};
      if (tsdbpy::tag::insert_new_tag(conn_, tag).ok && tag.tag_id)
        tsdb_tag_name_id_map_[node_id] = *tag.tag_id;
    }
  } catch (const std::exception& e) {
    lost(e.what());
  }
}

void TsdbRecording::lost(const std::string& why) {
  if (!next_attempt_) say_("数据库连接失败，暂停记录: " + why);
  conn_.close();
  next_attempt_ = Clock::now() + retry_interval_;
}

void TsdbRecording::begin_cycle() {
  cycle_tag_ids_.clear();
  cycle_values_.clear();
}

void TsdbRecording::collect(const std::string& node_id, const hublet::ValueRecord& record) {
  const auto it = tsdb_tag_name_id_map_.find(node_id);
  if (it == tsdb_tag_name_id_map_.end() || it->second == 0) return;
  const std::optional<double> value = value_as_double(record);
  if (!value) return;
  cycle_tag_ids_.push_back(it->second);
  cycle_values_.push_back(*value);
}

void TsdbRecording::write() {
  if (!enabled()) return;
  if (!conn_) {
    if (!next_attempt_ || Clock::now() < *next_attempt_) return;
    if (!connect()) return;
    register_tags();
    if (!conn_) return;
    say_("数据库已重新连接，恢复记录");
  }
  if (cycle_tag_ids_.empty()) return;
  const tsdbpy::Result result = tsdbpy::tsdata::write_tsdata(conn_, cycle_tag_ids_, cycle_values_);
  if (!result.ok && !conn_) lost(result.error);
}

void TsdbRecording::close() {
  conn_.close();
}

}  // namespace varnok::tessaly
