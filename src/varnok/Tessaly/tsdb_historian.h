#pragma once

// The recorder's store in the time-series database: one source per
// endpoint, one tag per node id (the node id is the tag's name), values with
// their polls' time stamps.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "historian.h"
#include "netio/wait.h"
#include "tsdbpy/conn.h"
#include "tsdbpy/tsdata.h"

namespace varnok::tessaly {

// The id of the source whose endpoint is opc_schema, registering it first if
// there is none; none when the registration failed.
std::optional<int> _tsdb_ensure_source(tsdbpy::conn::Connection& tsdb_conn, const std::string& opc_schema);

class TsdbHistorian final : public Historian {
 public:
  // How often the day partitions are kept up while recording.
  static constexpr std::chrono::hours kUpkeepInterval{1};

  // `settings` as tsdbpy::conn::get_conn takes them (recorder_tsdb_settings()
  // gives the recorder's time-outs); `endpoint` names the source. Makes the
  // coming days' partitions when it connects and every kUpkeepInterval;
  // with keep_days, also drops the days older than that (upkeep_partitions).
  TsdbHistorian(tsdbpy::conn::Settings settings, std::string endpoint,
                std::optional<int> keep_days = std::nullopt);

  // One round trip or a few, for any number of nodes.
  void open(const std::vector<std::string>& node_ids) override;
  void add(const std::vector<std::string>& node_ids) override;
  tsdbpy::Result write(std::span<const Poll> polls) override;
  void close() noexcept override { conn_.close(); }
  void interrupt() noexcept override { interrupt_.set(); }

  // The tag id of each node of the last open() and the add() since, 0 for
  // one without a tag.
  const std::vector<int>& tag_ids() const noexcept { return tag_ids_; }

 private:
  tsdbpy::conn::Settings settings_;
  std::string endpoint_;
  netio::Interrupt interrupt_;
  tsdbpy::conn::Connection conn_;
  void keep_partitions();

  std::optional<int> keep_days_;
  std::chrono::steady_clock::time_point next_upkeep_{};
  std::optional<int> source_id_;  // of the last open()
  std::vector<int> tag_ids_;
  // One batch's columns, kept to spare allocations.
  std::vector<tsdbpy::tsdata::TimePoint> ts_;
  std::vector<int> batch_tags_;
  std::vector<double> batch_values_;
};

}  // namespace varnok::tessaly
