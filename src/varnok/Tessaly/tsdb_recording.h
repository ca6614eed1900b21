#pragma once

// Records the viewer's polled values into the time-series database: one
// source per endpoint, one tag per node id, one batch per poll.
//
// A database that cannot be reached, or is lost while recording, never stops
// the viewer: one line on standard output, recording off, a new connection
// tried at most every `retry_interval`, and when it succeeds the source and
// tags are looked up (and registered where missing) again and recording
// resumes with one line.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "hublet/hublet.h"
#include "tsdb_settings.h"
#include "tsdbpy/conn.h"

namespace varnok::tessaly {

// The id of the source whose endpoint is opc_schema, registering it first if
// there is none; none when the registration failed.
std::optional<int> _tsdb_ensure_source(tsdbpy::conn::Connection& tsdb_conn, const std::string& opc_schema);

class TsdbRecording {
 public:
  using Clock = std::chrono::steady_clock;
  using Say = std::function<void(const std::string&)>;

  // settings empty: recording is off and no database call is ever made.
  TsdbRecording(tsdbpy::conn::Settings settings, std::string endpoint,
                std::chrono::milliseconds retry_interval = std::chrono::seconds(5), Say say = {});

  // Opens the connection and registers the source and one tag per node id,
  // in order. Failures are reported and leave recording to retry later.
  void prepare(const std::vector<std::string>& node_ids);

  // One poll: collect every (node id, value) pair, then write them as one
  // batch. Nodes without a tag id (or with id 0) and values that are not
  // numbers are skipped; nothing is written when nothing was collected.
  void begin_cycle();
  void collect(const std::string& node_id, const hublet::ValueRecord& record);
  void write();

  void close();

  bool active() const noexcept { return static_cast<bool>(conn_); }
  const std::unordered_map<std::string, int>& tag_ids() const noexcept { return tsdb_tag_name_id_map_; }

 private:
  bool enabled() const noexcept { return !settings_.empty(); }
  bool connect();
  void register_tags();
  void lost(const std::string& why);

  tsdbpy::conn::Settings settings_;
  std::string endpoint_;
  std::chrono::milliseconds retry_interval_;
  Say say_;

  tsdbpy::conn::Connection conn_;
  std::vector<std::string> node_ids_;
  std::unordered_map<std::string, int> tsdb_tag_name_id_map_;
  std::optional<Clock::time_point> next_attempt_;  // set while recording is off after a failure
  std::vector<int> cycle_tag_ids_;
  std::vector<double> cycle_values_;
};

}  // namespace varnok::tessaly
