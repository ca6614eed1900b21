// varnok-record: polls one group of an OPC UA server and records every value
// into the time-series database, exactly as the viewer does, without a
// window. Runs until --seconds have passed or SIGINT/SIGTERM arrives.
//
// Exit codes: 0 after a run that was stopped, 1 when the worker could not
// start (its line says why), 2 for usage errors.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <iostream>
#include <string>

#include "opc_hublet_worker.h"
#include "tsdb_settings.h"
#include "varnok/cli.h"
#include "varnok/defaults.h"

namespace {

using varnok::tessaly::OPCHubletWorker;

struct Options {
  std::string endpoint = varnok::defaults::opcua_endpoint();
  std::string group = "S1";
  int period_ms = 1000;
  double seconds = 0;  // 0: until a signal
  std::string db_host{varnok::defaults::kHost};
  int db_port = varnok::defaults::kDatabasePort;
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

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread starts, so every thread leaves them to the
  // signalfd below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Options options;
  CLI::App cli{
      "Records one group's values into the time-series database, like the viewer, without a window."};
  cli.add_option("--endpoint", options.endpoint, "OPC UA endpoint")->capture_default_str();
  cli.add_option("--group", options.group, "group (folder ns=2;s=GROUP) to record")->capture_default_str();
  cli.add_option("--period", options.period_ms, "polling period in ms")
      ->transform(varnok::cli::whole_number(1, 3600000))
      ->capture_default_str();
  cli.add_option("--seconds", options.seconds, "stop after this many seconds (0: at SIGINT/SIGTERM)")
      ->transform(varnok::cli::decimal_number())
      ->check(CLI::Range(0.0, 2e6))  // the timer counts int milliseconds
      ->capture_default_str();
  cli.add_option("--db-host", options.db_host, "PostgreSQL host")->capture_default_str();
  cli.add_option("--db-port", options.db_port, "PostgreSQL port")
      ->transform(varnok::cli::whole_number(1, 65535))
      ->capture_default_str();
  cli.add_flag("--no-db", options.no_db, "poll only, record nothing");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(cli, e, "varnok-record");
  }
  if (options.group.empty() || options.endpoint.empty())
    return varnok::report("varnok-record", varnok::UsageError("--endpoint and --group must not be empty"));

  QCoreApplication app(argc, argv);
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) {
    std::cerr << "varnok-record: signalfd failed\n";
    return varnok::kExitFailure;
  }
  QSocketNotifier on_signal(signal_fd, QSocketNotifier::Read);
  QObject::connect(&on_signal, &QSocketNotifier::activated, &app, [&] {
    signalfd_siginfo info{};
    while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    app.quit();
  });

  OPCHubletWorker::Settings settings;
  settings.endpoint = QString::fromStdString(options.endpoint);
  settings.parent_node_name = QString::fromStdString(options.group);
  settings.sub_interval = options.period_ms;
  settings.tsdb_cfg = database_settings(options);
  OPCHubletWorker worker(settings);

  std::int64_t nodes = 0;
  std::int64_t values = 0;
  QObject::connect(&worker, &OPCHubletWorker::node_discovered, &app, [&] { ++nodes; });
  QObject::connect(&worker, &OPCHubletWorker::data_changed, &app, [&] { ++values; });
  bool stopped_by_us = false;
  // A worker that ends on its own could not start; its line says why.
  QObject::connect(&worker, &QThread::finished, &app,
                   [&] { app.exit(stopped_by_us ? varnok::kExitOk : varnok::kExitFailure); });
  if (options.seconds > 0) {
    QTimer::singleShot(static_cast<int>(options.seconds * 1000), &app, [&] { app.quit(); });
  }

  worker.start();
  const int code = QCoreApplication::exec();
  stopped_by_us = true;
  worker.stop();
  worker.wait();
  close(signal_fd);
  if (code != 0) return code;
  std::cout << "varnok-record: " << nodes << " nodes, " << (nodes > 0 ? values / nodes : 0) << " polls"
            << std::endl;
  return varnok::kExitOk;
}
