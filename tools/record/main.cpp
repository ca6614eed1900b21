// varnok-record: polls one group of an OPC UA server, several, or all it
// has, and records every value into the time-series database, exactly as
// the viewer does (the same ViewerSession: one OPC UA session, one read and
// one database batch per period for all groups), without a window. Says at
// the start what it records from where into where; runs until --seconds
// have passed or SIGINT/SIGTERM arrives, then prints one line with how many
// polls it recorded and how many not (left queued, dropped), and why.
//
// Exit codes: 0 after a run that was stopped, 1 when the session could not
// start (its line says why), 2 for usage errors.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "netio/stop_signals.h"
#include "netio/wait.h"
#include "record_text.h"
#include "tsdb_settings.h"
#include "tsdbpy/tsdata.h"
#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "viewer_session.h"

namespace {

using varnok::tessaly::SessionEnd;
using varnok::tessaly::ViewerSession;

struct Options {
  std::string endpoint;
  std::vector<std::string> groups;  // none: S1, unless all
  bool all = false;
  int rescan_s = 5;
  int period_ms = 1000;
  double seconds = 0;  // 0: until a signal
  std::optional<int> keep_days;
  std::string db_host;
  int db_port = 0;
  bool no_db = false;
};

tsdbpy::conn::Settings database_settings(const Options& options) {
  if (options.no_db) return {};
  tsdbpy::conn::Settings settings = varnok::tessaly::default_tsdb_settings();
  // Later settings of a keyword win.
  settings.emplace_back("host", options.db_host);
  settings.emplace_back("port", options.db_port);
  return settings;
}

// What the command line asks that CLI11 cannot check: the groups, and
// --rescan only where there are several.
void check_groups(Options& options, bool rescan_given) {
  if (!options.all && options.groups.empty()) options.groups = {"S1"};
  for (std::size_t i = 0; i < options.groups.size(); ++i) {
    if (options.groups[i].empty()) throw varnok::UsageError("--endpoint and --group must not be empty");
    for (std::size_t j = 0; j < i; ++j) {
      if (options.groups[j] == options.groups[i])
        throw varnok::UsageError("--group " + options.groups[i] + " is given twice");
    }
  }
  if (rescan_given && !options.all && options.groups.size() < 2)
    throw varnok::UsageError("--rescan needs --all or several --group");
}

// The value of a setting as the database connection reads it: the last
// one of its keyword.
std::string setting(const tsdbpy::conn::Settings& settings, std::string_view key) {
  std::string value;
  for (const auto& s : settings) {
    if (s.key == key) value = s.value;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread leaves them to it.
  const netio::StopSignals stop_signals;

  Options options;
  try {
    const varnok::defaults::Addresses where = varnok::defaults::addresses();
    options.endpoint = varnok::defaults::opcua_endpoint(where);
    options.db_host = where.host;
    options.db_port = where.db_port;
  } catch (const std::exception& e) {
    return varnok::report("varnok-record", e);
  }
  CLI::App cli{"Records groups' values into the time-series database, like the viewer, without a window."};
  cli.add_option("--endpoint", options.endpoint, "OPC UA server (VARNOK_HOST, VARNOK_OPCUA_PORT)")
      ->capture_default_str();
  CLI::Option* group = cli.add_option("--group", options.groups,
                                      "group (folder ns=2;s=GROUP) to record; repeat it for several")
                           ->allow_extra_args(false)
                           ->default_str("S1");
  cli.add_flag("--all", options.all, "record every group the server has, and those that appear later")
      ->excludes(group);
  cli.add_option("--rescan", options.rescan_s,
                 "with --all or several --group: seconds between looks for new groups and tags, 1..3600")
      ->transform(varnok::cli::whole_number(1, 3600))
      ->capture_default_str();
  cli.add_option("--period", options.period_ms, "polling period in ms, 1..3600000")
      ->transform(varnok::cli::whole_number(1, 3600000))
      ->capture_default_str();
  cli.add_option("--seconds", options.seconds, "stop after this many seconds; 0 runs until Ctrl-C or SIGTERM")
      ->transform(varnok::cli::decimal_number(0, 2e6))
      ->capture_default_str();
  cli.add_option("--db-host", options.db_host, "PostgreSQL host (VARNOK_HOST)")->capture_default_str();
  cli.add_option("--db-port", options.db_port, "PostgreSQL port (VARNOK_DB_PORT)")
      ->transform(varnok::cli::whole_number(1, 65535))
      ->capture_default_str();
  CLI::Option* keep_days =
      cli.add_option(
             "--keep-days", options.keep_days,
             "drop recorded days that ended this many days before today (UTC), 1..36525; default keep all")
          ->transform(varnok::cli::whole_number(1, tsdbpy::tsdata::kMaxDays));
  cli.add_flag("--no-db", options.no_db, "poll only; record nothing")->excludes(keep_days);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(cli, e, "varnok-record");
  }
  try {
    if (options.endpoint.empty()) throw varnok::UsageError("--endpoint and --group must not be empty");
    check_groups(options, cli.count("--rescan") > 0);
  } catch (const varnok::UsageError& e) {
    return varnok::report("varnok-record", e);
  }
  const std::string first_group = options.all ? std::string() : options.groups.front();
  std::vector<std::string> more_groups;
  if (options.groups.size() > 1) more_groups.assign(options.groups.begin() + 1, options.groups.end());

  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options.seconds > 0) {
    deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(options.seconds));
  }

  const tsdbpy::conn::Settings database = database_settings(options);
  varnok::record::Plan plan{.endpoint = options.endpoint,
                            .group = first_group,
                            .period_ms = options.period_ms,
                            .seconds = options.seconds,
                            .database = {},
                            .more_groups = more_groups,
                            .all_groups = options.all,
                            .rescan_s = options.rescan_s,
                            .keep_days = options.keep_days};
  if (!database.empty()) {
    plan.database =
        varnok::record::database_text(options.db_host, options.db_port, setting(database, "dbname"));
  }
  std::cout << varnok::record::start_line(plan) << std::endl;

  ViewerSession session({.endpoint = options.endpoint,
                         .parent_node_name = first_group,
                         .more_groups = more_groups,
                         .all_groups = options.all,
                         .period = std::chrono::milliseconds(options.period_ms),
                         .database = database,
                         .keep_days = options.keep_days,
                         .rescan = std::chrono::seconds(options.rescan_s)},
                        {});
  netio::Interrupt ended;  // set when run() returns
  SessionEnd end = SessionEnd::kStopped;
  std::thread runner([&] {
    end = session.run();
    ended.set();
  });
  stop_signals.wait(ended.fd(), deadline);
  session.stop();
  if (netio::wait_ready(ended.fd(), POLLIN, std::chrono::steady_clock::now() + ViewerSession::kStopGrace,
                        -1) != netio::Wait::kReady) {
    session.interrupt();
  }
  runner.join();
  if (end == SessionEnd::kStartFailed) return varnok::kExitFailure;
  std::cout << varnok::record::summary(session.counts(), plan) << std::endl;
  return varnok::kExitOk;
}
