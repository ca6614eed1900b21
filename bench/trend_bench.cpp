// The viewer's trend: one update of 10 lines over 60 minutes at 1 s (a poll
// merged into the data, the lines replaced, the chart painted offscreen),
// and filling those 10 lines back from a throw-away PostgreSQL (durable
// settings) when they are put on the trend: request, read on the history
// thread, merge and draw, until the last answer is on screen.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "numbered_groups.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "qt_wait.h"
#include "trend_chart.h"
#include "tsdb_historian.h"
#include "tsdb_settings.h"
#include "ua_table_window.h"

namespace {

using namespace std::chrono_literals;
using varnok::quorra::TrendChart;
using varnok::tessaly::PolledNumbers;

constexpr int kLines = 10;
constexpr int kSeconds = 3600;

std::vector<std::string> tags() {
  std::vector<std::string> out;
  for (int i = 0; i < kLines; ++i) out.push_back("2:B1.Tag" + std::to_string(i));
  return out;
}

PolledNumbers poll_at(varnok::tessaly::TrendTime at, int n) {
  PolledNumbers poll{.read_at = at, .node_ids = tags(), .values = {}};
  for (int i = 0; i < kLines; ++i) poll.values.push_back(std::sin(n / 60.0 + i) * (i + 1));
  return poll;
}

// Argument: the window in minutes (60: the figure asked for; 1 shows the
// cost that does not grow with the points).
void BM_TrendDrawOneUpdate(benchmark::State& state) {
  const auto window = std::chrono::minutes(state.range(0));
  TrendChart chart;
  chart.resize(1200, 600);
  chart.show();
  for (const std::string& tag : tags()) chart.add_tag(QString::fromStdString(tag));
  chart.set_window(window);
  chart.set_paused(true);
  auto at = std::chrono::system_clock::now() - 1h;
  int n = 0;
  for (; n <= 60 * window.count(); ++n) chart.add_poll(poll_at(at + n * 1s, n));
  chart.set_paused(false);
  QCoreApplication::processEvents();
  double redraw_ns = 0;
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    chart.add_poll(poll_at(at + n * 1s, n));
    redraw_ns += static_cast<double>(t.nsecsElapsed());
    chart.chart_view()->viewport()->repaint();
    ++n;
  }
  state.counters["redraw_ms"] = redraw_ns / 1e6 / static_cast<double>(state.iterations());
  int drawn = 0;
  for (const std::string& tag : tags()) drawn += chart.series(QString::fromStdString(tag))->count();
  state.counters["drawn_points"] = drawn;
}
BENCHMARK(BM_TrendDrawOneUpdate)->Arg(60)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_TrendBackFill(benchmark::State& state) {
  static tsdbpy_testing::PgCluster db(tsdbpy_testing::PgCluster::Options{.durable = true});
  static const bool recorded = [] {
    varnok::tessaly::TsdbHistorian store(varnok::tessaly::recorder_tsdb_settings(db.settings()),
                                         "opc.tcp://bench:1");
    store.open(tags());
    std::vector<varnok::tessaly::Poll> polls;
    // The hour before now: the newest ones first out of the window as the runs go by.
    const auto start = std::chrono::system_clock::now() - 3599s;
    for (int n = 0; n < kSeconds; ++n) {
      varnok::tessaly::Poll poll{.read_at = start + n * 1s, .nodes = {}, .values = {}};
      for (std::uint32_t i = 0; i < kLines; ++i) {
        poll.nodes.push_back(i);
        poll.values.push_back(n + i);
      }
      polls.push_back(std::move(poll));
    }
    return store.write(polls).ok;
  }();
  if (!recorded) {
    state.SkipWithError("recording the history failed");
    return;
  }
  for (auto _ : state) {
    TrendChart chart;
    chart.resize(1200, 600);
    chart.show();
    chart.set_window(60min);
    chart.set_database(db.settings());
    int merged = 0;
    QObject::connect(&chart, &TrendChart::history_merged, [&] { ++merged; });
    QElapsedTimer timer;
    timer.start();
    for (const std::string& tag : tags()) chart.add_tag(QString::fromStdString(tag));
    if (!varnok::testing::qt_wait_until([&] { return merged == kLines; }, 60000)) {
      state.SkipWithError("no history within a minute");
      return;
    }
    chart.chart_view()->viewport()->repaint();
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    const std::size_t got = chart.data().series(tags().front())->samples().size();
    if (got < kSeconds - 60) state.SkipWithError(("history incomplete: " + std::to_string(got)).c_str());
    state.counters["values_per_line"] = static_cast<double>(got);
  }
}
BENCHMARK(BM_TrendBackFill)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The viewer polling a group of 10 on the real opcsim every 100 ms for 5 s,
// its GUI thread drawing every poll on a trend of those 10 over 60 minutes
// (argument 1; 0: no trend). The figure is the time per poll: 100 ms when
// the drawing does not hold the polling up.
void BM_PollingWhileDrawing(benchmark::State& state) {
  static varnok::testing::OpcsimProcess opcsim;
  static const bool registered = [] {
    varnok::bench::register_numbered_groups(opcsim.gateway_port(), "V", {kLines}, "trend-bench");
    return true;
  }();
  (void)registered;
  const std::string group = varnok::bench::numbered("V", kLines);
  varnok::quorra::UATableWindow window;
  window.resize(1200, 900);
  window.set_tsdb_settings({});
  varnok::quorra::UATableWindow::ViewerSettings settings;
  settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(opcsim.opcua_port());
  settings.identifier = QString::fromStdString(group);
  settings.sub_interval = 100;
  window.start_opcua(settings);
  window.show();
  if (state.range(0) != 0) {
    PolledNumbers old{.read_at = {}, .node_ids = {}, .values = {}};
    for (int i = 0; i < kLines; ++i) {
      old.node_ids.push_back("2:" + group + "." + varnok::bench::numbered("T", i));
      old.values.push_back(0);
      window.set_trended(QString::fromStdString(old.node_ids.back()), true);
    }
    window.trend_chart()->set_window(60min);
    window.trend_chart()->set_paused(true);  // one drawing of the hour, not one per value
    const auto start = std::chrono::system_clock::now() - 1h;
    for (int n = 0; n < kSeconds; ++n) {
      old.read_at = start + n * 1s;
      for (int i = 0; i < kLines; ++i) old.values[static_cast<std::size_t>(i)] = std::sin(n / 60.0 + i);
      window.trend_chart()->add_poll(old);
    }
    window.trend_chart()->set_paused(false);
  }
  varnok::testing::qt_wait_until([&] { return window.worker()->counts().polls >= 2; }, 30000);
  for (auto _ : state) {
    const std::uint64_t before = window.worker()->counts().polls;
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const double polls = static_cast<double>(window.worker()->counts().polls - before);
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9 / std::max(polls, 1.0));
  }
  window.close();
}
BENCHMARK(BM_PollingWhileDrawing)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
