// Readable values and trends in the viewer window: offscreen, against the
// real opcsim and a throw-away PostgreSQL that the window records into.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <cmath>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "qt_wait.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"
#include "ua_table_window.h"

namespace varnok::quorra {
namespace {

using namespace std::chrono_literals;
using testing::qt_wait_until;

TEST(ReadableValues, NumbersFitTheirColumnTheFullTextIsOnHoverCopyAndEdit) {
  UATableWindow window;
  window.show();
  window.on_node_discovered("2:T1.CV1", "CV1");
  window.on_node_discovered("2:T1.Count", "Count");
  window.on_data_changed("2:T1.CV1", "-123456789.12345679");
  window.on_data_changed("2:T1.Count", "31.0");
  const QTableWidget* table = window.table_widget();
  const QTableWidgetItem* long_value = table->item(0, 1);
  EXPECT_EQ(long_value->text(), "-1.23457e+08");
  EXPECT_EQ(long_value->toolTip(), "-123456789.12345679");
  EXPECT_EQ(table->item(1, 1)->toolTip(), "");  // shown in full already
  const int room = table->columnWidth(1) - 2 * table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin);
  EXPECT_LT(QFontMetrics(long_value->font()).horizontalAdvance(long_value->text()), room);

  window.copy_cell_content(table->visualItemRect(long_value).center());
  EXPECT_EQ(QApplication::clipboard()->text(), "-123456789.12345679");
  QString offered;
  window.set_text_asker([&](QWidget*, const QString&, const QString&, const QString& text) {
    offered = text;
    return std::nullopt;
  });
  window.on_cell_double_clicked(0, 1);
  EXPECT_EQ(offered, "-123456789.12345679");

  // Stale: the full value and the reason.
  window.on_data_stale("2:T1.CV1", "", "BadNoCommunication (0x80310000)");
  EXPECT_EQ(table->item(0, 1)->text(), "-1.23457e+08");
  EXPECT_EQ(table->item(0, 1)->toolTip(), "-123456789.12345679\nNot live: BadNoCommunication (0x80310000)");
}

TEST(Trend, TheContextMenuPutsARowsTagOnTheTrendAndTakesItOff) {
  UATableWindow window;
  window.show();
  window.on_node_discovered("2:T1.PV", "PV");
  EXPECT_FALSE(window.trend_chart()->isVisible());
  const QTableWidget* table = window.table_widget();
  const QPoint on_row = table->visualItemRect(table->item(0, 0)).center();
  for (const bool on : {true, false}) {
    const std::unique_ptr<QMenu> menu = window.context_menu(on_row);
    ASSERT_EQ(menu->actions().size(), 2);
    QAction* trend = menu->actions()[1];
    EXPECT_EQ(trend->text(), "Trend");
    EXPECT_EQ(trend->isChecked(), !on);
    trend->trigger();
    EXPECT_EQ(window.trend_chart()->has_tag("2:T1.PV"), on);
    EXPECT_EQ(window.trend_chart()->isVisible(), on);
  }
  // Below the last row: Copy only.
  EXPECT_EQ(window.context_menu(QPoint(5, table->viewport()->height() - 2))->actions().size(), 1);
}

// Three tags that change at every step of the plant.
class RampSim final : public corvex::Simulink {
 public:
  RampSim() : Simulink({{"Count", 0}, {"Half", 0}, {"Wave", 0}}) {}
  void task() override {
    const double n = static_cast<double>(get_task_count());
    get_data().set("Count", n);
    get_data().set("Half", n / 2);
    get_data().set("Wave", std::sin(n / 10));
  }
};

double msecs(tessaly::TrendTime at) {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

std::vector<QPointF> points_of(const QtCharts::QLineSeries& line) {
  const QVector<QPointF> points = line.pointsVector();
  return {points.begin(), points.end()};
}

TEST(Trend, ThreeTagsOfARunningPlantLiveBackFilledAndExported) {
  testing::OpcsimProcess opcsim;
  tsdbpy_testing::PgCluster db;
  auto sim = std::make_shared<RampSim>();
  corvex::SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "T1", {.speed = 10.0});
  std::thread runner([&] { task.run(); });
  while (task.get_done_count() == 0) std::this_thread::sleep_for(10ms);

  UATableWindow window;
  window.resize(900, 700);
  window.set_tsdb_settings(db.settings());
  UATableWindow::ViewerSettings settings;
  settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(opcsim.opcua_port());
  settings.identifier = "T1";
  settings.sub_interval = 100;
  window.start_opcua(settings);
  window.show();
  // The viewer records a while before anybody opens a trend.
  ASSERT_TRUE(qt_wait_until(
      [&] {
        const auto counts = window.worker()->counts();
        return counts.recording && counts.recording->recorded >= 15;
      },
      30000));

  const QStringList tags{"2:T1.Count", "2:T1.Half", "2:T1.Wave"};
  int polls_on_trend = 0;
  const tessaly::TrendTime opened = std::chrono::system_clock::now();
  // The polls read since the trend opened.
  QObject::connect(
      window.worker(), &tessaly::OPCHubletWorker::numbers_polled, &window,
      [&](const tessaly::PolledNumbers& poll) { polls_on_trend += poll.read_at >= opened ? 1 : 0; });
  TrendChart* chart = window.trend_chart();
  int merged = 0;
  QObject::connect(chart, &TrendChart::history_merged, [&] { ++merged; });
  for (const QString& tag : tags) window.set_trended(tag, true);
  ASSERT_TRUE(qt_wait_until([&] { return merged == 3 && polls_on_trend >= 20; }, 30000));
  window.worker()->stop_and_wait();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(window.status_line()->text(), "");

  tsdbpy::conn::Connection conn = tsdbpy::conn::get_conn(db.settings());
  for (int row = 0; row < window.table_widget()->rowCount(); ++row) {
    const QString tag = window.node_id_of_row(row);
    SCOPED_TRACE(tag.toStdString());
    const tessaly::TrendSeries& data = *chart->data().series(tag.toStdString());
    std::vector<tessaly::TrendSample> before, live;
    for (const tessaly::TrendSample& s : data.samples()) (s.at < opened ? before : live).push_back(s);
    // One point per poll since the trend opened, the last one the table's value.
    EXPECT_EQ(static_cast<int>(live.size()), polls_on_trend);
    EXPECT_EQ(live.back().value,
              window.table_widget()->item(row, 1)->data(UATableWindow::kFullTextRole).toString().toDouble());
    // Filled back: what the database held before, each value once (a poll
    // read just before the trend opened may have come live: it was recorded
    // at its read time to the microsecond).
    const auto recorded_tag = tsdbpy::tag::get_tag(conn, tag.toStdString());
    ASSERT_TRUE(recorded_tag.has_value());
    ASSERT_GE(before.size(), 10u);
    const auto recorded = tsdbpy::tsdata::read_tsdata(conn, *recorded_tag->tag_id, opened - chart->window(),
                                                      before.back().at + 2us);
    ASSERT_EQ(recorded.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(std::chrono::ceil<std::chrono::microseconds>(before[i].at), recorded[i].ts);
      EXPECT_EQ(before[i].value, recorded[i].value);
    }
    EXPECT_LT(before.back().at, live.front().at);
    // The line on screen is those values.
    const std::vector<QPointF> shown = points_of(*chart->series(tag));
    ASSERT_EQ(shown.size(), data.samples().size());
    EXPECT_EQ(shown.front(), QPointF(msecs(data.samples().front().at), data.samples().front().value));
    EXPECT_EQ(shown.back(), QPointF(msecs(data.samples().back().at), data.samples().back().value));
  }

  // What is on screen goes to the files.
  chart->set_paused(true);
  QTemporaryDir dir;
  ASSERT_TRUE(chart->save_png(dir.filePath("trend.png")));
  const QImage saved(dir.filePath("trend.png"));
  const QImage on_screen = chart->chart_view()->grab().toImage().convertToFormat(saved.format());
  EXPECT_EQ(saved.size(), chart->chart_view()->size());
  EXPECT_TRUE(saved == on_screen);

  ASSERT_TRUE(chart->save_csv(dir.filePath("trend.csv")));
  QFile csv(dir.filePath("trend.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines[0], "time," + tags.join(','));
  std::vector<std::vector<double>> columns(tags.size());
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(',');
    ASSERT_EQ(cells.size(), tags.size() + 1) << lines[i].toStdString();
    for (int c = 0; c < tags.size(); ++c) {
      if (!cells[c + 1].isEmpty()) columns[static_cast<std::size_t>(c)].push_back(cells[c + 1].toDouble());
    }
  }
  for (int c = 0; c < tags.size(); ++c) {
    std::vector<double> shown;
    for (const QPointF& p : points_of(*chart->series(tags[c]))) shown.push_back(p.y());
    EXPECT_EQ(columns[static_cast<std::size_t>(c)], shown) << tags[c].toStdString();
  }

  window.close();
  task.stop();
  runner.join();
}

}  // namespace
}  // namespace varnok::quorra
