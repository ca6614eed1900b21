// The viewer worker's poll cycle, end to end: read of the whole group from
// the real opcsim, one data_changed signal per node, and the poll handed to
// the recorder, whose own thread writes it to a throw-away PostgreSQL
// (durable settings). The worker runs with a polling period of 0, so cycles
// follow one another at once; the figure is wall time per cycle, and
// poll_cpu_ms the polling thread's own CPU per cycle (read, signals,
// hand-over; the recorder's thread and the servers not included).

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "numbered_groups.h"
#include "opc_hublet_worker.h"
#include "opcsim_process.h"
#include "pg_cluster.h"

namespace {

using namespace std::chrono_literals;

using varnok::bench::numbered;

struct Servers {
  Servers() : db(tsdbpy_testing::PgCluster::Options{.durable = true}) {
    varnok::bench::register_numbered_groups(opcsim.gateway_port(), "V", {30, 1000}, "viewer-bench");
  }
  varnok::testing::OpcsimProcess opcsim;
  tsdbpy_testing::PgCluster db;
};

Servers& servers() {
  static Servers instance;
  return instance;
}

double cpu_seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_ViewerPollCycle(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  varnok::tessaly::OPCHubletWorker::Settings settings;
  settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(servers().opcsim.opcua_port());
  settings.parent_node_name = QString::fromStdString(numbered("V", size));
  settings.sub_interval = 0;
  settings.tsdb_cfg = servers().db.settings();
  varnok::tessaly::OPCHubletWorker worker(settings);
  std::atomic<long> values{0};
  // The polling thread's CPU clock, taken from the thread itself.
  std::atomic<bool> have_clock{false};
  clockid_t poll_clock{};
  QObject::connect(
      &worker, &varnok::tessaly::OPCHubletWorker::data_changed, &worker,
      [&](const QString&, const QString&) {
        if (!have_clock.load(std::memory_order_relaxed)) {
          pthread_getcpuclockid(pthread_self(), &poll_clock);
          have_clock.store(true, std::memory_order_release);
        }
        values.fetch_add(1);
      },
      Qt::DirectConnection);
  worker.start();
  // Start-up done: the first cycles polled, and the recorder has registered
  // the nodes (a query per node) and written.
  const auto recording = [&worker] {
    const auto counts = worker.counts();
    return counts.recording && counts.recording->recorded > 0;
  };
  while (values.load() < 2L * size || !have_clock.load(std::memory_order_acquire) || !recording())
    std::this_thread::sleep_for(1ms);

  for (auto _ : state) {
    const long start = values.load();
    const double cpu0 = cpu_seconds(poll_clock);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds(poll_clock) - cpu0;
    const double cycles = static_cast<double>(values.load() - start) / size;
    state.SetIterationTime(seconds / cycles);
    state.counters["poll_cpu_ms"] = cpu * 1e3 / cycles;
  }
  worker.stop();
  worker.wait();
}
BENCHMARK(BM_ViewerPollCycle)
    ->Arg(30)
    ->Arg(1000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
