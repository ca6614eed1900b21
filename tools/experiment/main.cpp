// varnok-experiment: runs an experiment file against a plant that already
// serves its group, as an OPC UA client. Rows go out as CSV (standard output
// or --out) as the periods pass, lines on standard error, and at the end
// one summary line; --plot draws the rows with the actions marked.
//
// Exit codes: 0 when every period ran and every write was in its period;
// 1 when a write was late, a period went unrecorded, or the run failed or
// was stopped (Ctrl-C, SIGTERM); 2 for a bad command line or file, or a
// group or tag the server does not have.

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "netio/stop_signals.h"
#include "netio/wait.h"
#include "record_text.h"
#include "tsdb_settings.h"
#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/errors.h"
#include "varnok/experiment/experiment_file.h"
#include "varnok/experiment_live/live_experiment.h"
#include "varnok/experiment_live/results_csv.h"
#include "varnok/experiment_live/results_plot_input.h"
#include "varnok/experiment_live/run_text.h"
#include "varnok/plot/results_plot.h"

namespace {

constexpr const char* kProgram = "varnok-experiment";

namespace live = varnok::experiment_live;

constexpr const char* kTiming = R"(Timing:
  The run starts when the plant's RunCount next changes: period 1 is the
  plant's period after that one, and periods are counted by RunCount. Each
  write is made after the plant publishes the RunCount of the period before,
  and RunCount is read again once the server has taken the write: a write
  the plant has already passed is said ("write of MV1 = 30 for period 10 was
  late by 1 period") and counted, and periods the plant ran through without
  a row are said too. One moment escapes the check: the plant has read its
  inputs for the period but not yet published its new RunCount (its task and
  the publish call, well under a millisecond); a write landing there is
  taken for in time but is seen a period late.

Exit codes: 0 every period recorded and every write in its period; 1 a write
late, a period not recorded, or a run that failed or was stopped (Ctrl-C,
SIGTERM; the rows so far are kept, nothing is restored); 2 a bad command
line or file, or a group or tag the server does not have.)";

struct Options {
  std::string file;
  std::string group;
  std::string endpoint;
  std::string out;
  std::string plot;
  std::string db_host;
  int db_port = 0;
  bool no_db = false;
};

void say(const std::string& line) {
  std::cerr << kProgram << ": " << line << std::endl;
}

std::string start_line(const Options& options, const varnok::experiment::Experiment& experiment,
                       const std::optional<std::string>& database) {
  return "running " + options.file + " (" + live::count_of(experiment.periods, "period", "periods") +
         ") on group " + options.group + " of " + options.endpoint +
         (database ? ", recording into the database " + *database : ", not recording (--no-db)");
}

std::string recording_line(const varnok::tessaly::RecorderCounts& counts, const std::string& database) {
  std::string line = live::count_of(static_cast<std::int64_t>(counts.recorded), "row", "rows") +
                     " recorded into the database " + database;
  const std::uint64_t left = counts.queued + counts.dropped;
  if (left == 0) return line;
  line += ", " + std::to_string(left) + " not";
  if (!counts.failure.empty()) line += ": " + counts.failure.substr(0, counts.failure.find('\n'));
  return line;
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
    return varnok::report(kProgram, e);
  }
  CLI::App app{
      "Runs an experiment file against a plant that serves its group now, and records every period."};
  app.add_option("FILE", options.file, "experiment file (.yaml)")->required();
  app.add_option("--group", options.group, "the plant's group (folder ns=2;s=GROUP)")->required();
  app.add_option("--endpoint", options.endpoint, "OPC UA server (VARNOK_HOST, VARNOK_OPCUA_PORT)")
      ->capture_default_str();
  app.add_option("--out", options.out, "write the CSV here (default: standard output)");
  app.add_option("--plot", options.plot, "draw the recorded tags against the period into this PNG");
  app.add_option("--db-host", options.db_host, "PostgreSQL host (VARNOK_HOST)")->capture_default_str();
  app.add_option("--db-port", options.db_port, "PostgreSQL port (VARNOK_DB_PORT)")
      ->transform(varnok::cli::whole_number(1, 65535))
      ->capture_default_str();
  app.add_flag("--no-db", options.no_db, "record nothing into the database");
  app.footer(kTiming);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, kProgram);
  }

  live::LiveSettings settings;
  std::optional<std::string> database;
  std::ofstream file_out;
  try {
    if (options.group.empty() || options.endpoint.empty())
      throw varnok::UsageError("--endpoint and --group must not be empty");
    settings.experiment = varnok::experiment::read_experiment_file(options.file);
    if (!options.out.empty()) {
      file_out.open(options.out, std::ios::out | std::ios::trunc);
      if (!file_out) throw varnok::UsageError("--out " + options.out + ": " + std::strerror(errno));
    }
    // Before the run: a program without Qt's platform fails at once, not after it.
    if (!options.plot.empty()) varnok::plot::ensure_offscreen_app();
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
  settings.endpoint = options.endpoint;
  settings.group = options.group;
  if (!options.no_db) {
    settings.database = varnok::tessaly::default_tsdb_settings();
    // Later settings of a keyword win.
    settings.database.emplace_back("host", options.db_host);
    settings.database.emplace_back("port", options.db_port);
    database =
        varnok::record::database_text(options.db_host, options.db_port, varnok::defaults::kDatabaseName);
  }
  const varnok::experiment::Experiment experiment = settings.experiment;

  // The header goes out with the first row, or after a run without rows: a
  // run refused at the start writes no CSV at all.
  std::ostream& out = options.out.empty() ? std::cout : file_out;
  std::optional<live::ResultsCsv> csv;
  const auto open_csv = [&] {
    if (!csv) csv.emplace(out, live::recorded_tags(experiment));
  };
  std::vector<live::Row> rows;
  const bool keep_rows = !options.plot.empty();
  live::LiveExperiment run(std::move(settings), {.progress = {}, .line = say, .row = [&](live::Row row) {
                                                   open_csv();
                                                   csv->write(row);
                                                   if (keep_rows) rows.push_back(std::move(row));
                                                 }});
  say(start_line(options, experiment, database));

  netio::Interrupt ended;  // set when run() returns
  live::LiveSummary summary;
  std::exception_ptr failure;
  std::thread runner([&] {
    try {
      summary = run.run();
    } catch (...) {
      failure = std::current_exception();
    }
    ended.set();
  });
  stop_signals.wait(ended.fd());
  run.stop();  // no-op once run() has returned
  runner.join();

  int code = varnok::kExitOk;
  try {
    if (failure) std::rethrow_exception(failure);
    open_csv();
  } catch (const std::exception& e) {
    code = varnok::report(kProgram, e);
  }
  if (failure && !csv) {
    // Refused before the first row: no file is left behind.
    if (!options.out.empty()) std::remove(options.out.c_str());
    return code;
  }
  if (summary.end == live::LiveEnd::kStopped && !failure) say("stopped; nothing restored");
  if (!options.plot.empty()) {
    try {
      varnok::plot::write_png(live::results_plot_input(experiment, rows), options.plot);
    } catch (const std::exception& e) {
      // The run is over: a plot that cannot be drawn is no fault of the input.
      varnok::report(kProgram, e);
      code = std::max(code, static_cast<int>(varnok::kExitFailure));
    }
  }
  if (failure) return code;
  if (summary.recording && database) say(recording_line(*summary.recording, *database));
  say(live::summary_text(summary));
  if (!summary.all_in_time()) code = std::max(code, static_cast<int>(varnok::kExitFailure));
  return code;
}
