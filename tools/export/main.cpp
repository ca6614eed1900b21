// varnok-export: the recorded values of one group out of the time-series
// database as CSV on standard output, one line per poll (or per value with
// --long).
//
// Exit codes: 0 ok, 1 when the database cannot be reached or fails (the
// output may then be cut short), 2 for usage errors and a group or tag that
// was never recorded.

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <string>
#include <string_view>

#include "columns.h"
#include "export_run.h"
#include "time_text.h"
#include "tsdb_settings.h"
#include "tsdbpy/conn.h"
#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/errors.h"

namespace {

constexpr const char* kProgram = "varnok-export";

struct Options {
  std::string db_host;
  int db_port = 0;
  std::string group;
  std::string tags;
  std::string from;
  std::string to;
  bool long_form = false;
};

// "localhost:22400/tsdb_simulation"
std::string database_text(const Options& options) {
  const bool ipv6 = options.db_host.find(':') != std::string::npos;
  std::string text = ipv6 ? "[" + options.db_host + "]" : options.db_host;
  text += ":" + std::to_string(options.db_port) + "/";
  text += varnok::defaults::kDatabaseName;
  return text;
}

// A database's failure on one line: libpq adds hints on further lines.
std::string first_line(std::string_view text) {
  std::string line(text.substr(0, text.find('\n')));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

varnok::exporting::Request request_of(const Options& options) {
  using varnok::exporting::parse_time;
  if (options.group.empty()) throw varnok::UsageError("--group must not be empty");
  varnok::exporting::Request request{
      .group = options.group,
      .tags = {},
      .from = {},
      .to = {},
      .shape = options.long_form ? varnok::exporting::Shape::kLong : varnok::exporting::Shape::kWide};
  if (!options.tags.empty()) request.tags = varnok::exporting::parse_tag_list(options.tags);
  const auto now = std::chrono::system_clock::now();
  request.from =
      options.from.empty() ? varnok::exporting::TimePoint::min() : parse_time(options.from, now, "--from");
  request.to = options.to.empty() ? now : parse_time(options.to, now, "--to");
  if (request.from > request.to) {
    throw varnok::UsageError("--from " + varnok::exporting::time_text(request.from) + " is after --to " +
                             varnok::exporting::time_text(request.to));
  }
  return request;
}

tsdbpy::conn::Settings database_settings(const Options& options) {
  varnok::defaults::Addresses where;
  where.host = options.db_host;
  where.db_port = options.db_port;
  // Short enough to give up on an unreachable server soon; a statement (one
  // batch, or the server's sort of a long range) gets longer.
  tsdbpy::conn::Settings settings{{"connect_timeout", 5}, {"statement_timeout", 60}};
  for (auto& s : varnok::tessaly::default_tsdb_settings(where)) settings.push_back(std::move(s));
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    const varnok::defaults::Addresses where = varnok::defaults::addresses();
    options.db_host = where.host;
    options.db_port = where.db_port;
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
  CLI::App cli{
      "Writes the recorded values of one group as CSV: time,TAG,... with one line per poll, or "
      "time,tag,value "
      "with --long. Times out are UTC (Z), with milliseconds, or microseconds where a time stamp has them."};
  cli.add_option("--db-host", options.db_host, "PostgreSQL host (VARNOK_HOST)")->capture_default_str();
  cli.add_option("--db-port", options.db_port, "PostgreSQL port (VARNOK_DB_PORT)")
      ->transform(varnok::cli::whole_number(1, 65535))
      ->capture_default_str();
  cli.add_option("--group", options.group, "group whose recorded tags to write, e.g. S1")->required();
  cli.add_option("--tags", options.tags,
                 "tags to write, in this order, comma-separated (default: every recorded tag of the group, "
                 "in the order they were first recorded)");
  cli.add_option("--from", options.from,
                 "first time (default: the beginning): ISO 8601 such as 2026-12-09T21:45:03, local time "
                 "unless a zone (Z, +01:00) is given, or before now: -30s, -10min, -2h, -1d");
  cli.add_option("--to", options.to, "end of the range, not included (default: now); written like --from");
  cli.add_flag("--long", options.long_form, "one line per value: time,tag,value, by time and then tag");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(cli, e, kProgram);
  }

  try {
    const varnok::exporting::Request request = request_of(options);
    tsdbpy::conn::Connection conn;
    try {
      conn = tsdbpy::conn::get_conn(database_settings(options));
    } catch (const tsdbpy::conn::ConnectError& e) {
      throw varnok::RunError("cannot reach the database " + database_text(options) + ": " +
                             first_line(e.what()));
    }
    std::ios::sync_with_stdio(false);
    try {
      varnok::exporting::write_export(conn, request, std::cout);
    } catch (const tsdbpy::Error& e) {
      std::cout.flush();
      throw varnok::RunError("reading from the database " + database_text(options) +
                             " failed: " + first_line(e.what()));
    }
    std::cout.flush();
    if (!std::cout) throw varnok::RunError("cannot write the output");
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
  return varnok::kExitOk;
}
