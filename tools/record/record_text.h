#pragma once

// varnok-record's own lines: at the start, what it records from where into
// where; at the end, what became of the polls, and why when some were not
// recorded.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "viewer_session.h"

namespace varnok::record {

struct Plan {
  std::string endpoint;
  std::string group;
  int period_ms = 1000;
  double seconds = 0;                      // 0: until a signal
  std::optional<std::string> database;     // database_text(); none with --no-db
  std::vector<std::string> more_groups{};  // recorded with `group`
  bool all_groups = false;                 // every group the server has, instead
  int rescan_s = 0;                        // with all_groups: seconds between looks for new groups
  std::optional<int> keep_days{};          // days kept in the database; none: all

  bool several_groups() const { return all_groups || !more_groups.empty(); }
};

// "localhost:22400/tsdb_simulation", an IPv6 address in brackets.
std::string database_text(std::string_view host, int port, std::string_view name);

// "varnok-record: recording group S1 of opc.tcp://localhost:22200 every
// 1000 ms into the database localhost:22400/tsdb_simulation, until Ctrl-C or
// SIGTERM"; with --no-db "polling ..., not recording (--no-db)". Several
// groups: "recording groups S1, S2 of ..."; all: "recording all groups of
// ..." and at the end "; looking for new groups every 5 s". With keep_days,
// " (keeping N days)" follows the database.
std::string start_line(const Plan& plan);

// "varnok-record: 30 nodes, 13 polls, 0 recorded, 13 not recorded (13
// queued, 0 dropped): the database localhost:22400/tsdb_simulation was not
// available (<reason>)"; nothing after the counts when every poll was
// recorded. With several groups the counts begin with "3 groups, ".
std::string summary(const tessaly::SessionCounts& counts, const Plan& plan);

}  // namespace varnok::record
