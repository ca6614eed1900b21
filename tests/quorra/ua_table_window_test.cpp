#include "ua_table_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "gateway_client.h"
#include "opcsim_process.h"
#include "qt_wait.h"

namespace varnok::quorra {
namespace {

using namespace std::chrono_literals;
using testing::qt_wait_until;

QString cell(const UATableWindow& window, int row, int col) {
  const QTableWidgetItem* item = window.table_widget()->item(row, col);
  return item ? item->text() : QStringLiteral("<none>");
}

// A window whose worker exists but has nothing to talk to, so write
// requests can be watched without a server.
struct StartedWindow {
  StartedWindow() {
    window.set_tsdb_settings({});
    UATableWindow::ViewerSettings settings;
    settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(testing::free_port());
    settings.identifier = "T1";
    window.start_opcua(settings);
    window.worker()->wait(10000);
    window.on_node_discovered("2:T1.CV1", "CV1");
    window.on_data_changed("2:T1.CV1", "31.0");
  }
  UATableWindow window;
};

TEST(UATableWindow, LayoutOfAFreshWindow) {
  UATableWindow window;
  EXPECT_EQ(window.windowTitle(), "OPC UA Viewer");
  EXPECT_EQ(window.size(), QSize(600, 400));
  EXPECT_EQ(window.table_widget()->columnCount(), 2);
  EXPECT_EQ(window.table_widget()->horizontalHeaderItem(0)->text(), "NodeID");
  EXPECT_EQ(window.table_widget()->horizontalHeaderItem(1)->text(), "Value");
  EXPECT_EQ(window.table_widget()->columnWidth(0), 360);
  EXPECT_EQ(window.table_widget()->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(window.worker(), nullptr);
  window.close();  // before start: nothing to stop
}

TEST(UATableWindow, RowsOnDiscoveryValuesOnDataUnknownNodesIgnored) {
  UATableWindow window;
  window.on_node_discovered("2:T1.CV1", "display name is not used");
  window.on_node_discovered("2:T1:odd:name", "x");
  EXPECT_EQ(cell(window, 0, 0), "T1.CV1");
  EXPECT_EQ(cell(window, 0, 1), "-");
  EXPECT_EQ(cell(window, 1, 0), "T1:odd:name");
  window.on_data_changed("2:T1.CV1", "31.0");
  window.on_data_changed("2:T1:odd:name", "True");
  window.on_data_changed("2:T1.Nope", "5.0");
  EXPECT_EQ(cell(window, 0, 1), "31.0");
  EXPECT_EQ(cell(window, 1, 1), "True");
  EXPECT_EQ(window.table_widget()->rowCount(), 2);
}

TEST(UATableWindow, DoubleClickOnAValueAsksAndSendsTheTypedText) {
  StartedWindow started;
  UATableWindow& window = started.window;
  QSignalSpy writes(window.worker(), &tessaly::OPCHubletWorker::write_request);
  QString asked_label;
  QString asked_text;
  std::optional<QString> answer = QString("3.5");
  window.set_text_asker([&](QWidget*, const QString& title, const QString& label, const QString& text) {
    EXPECT_EQ(title, "Modify Value");
    asked_label = label;
    asked_text = text;
    return answer;
  });

  window.on_cell_double_clicked(0, 0);  // the NodeID column does nothing
  EXPECT_TRUE(asked_label.isEmpty());

  window.on_cell_double_clicked(0, 1);
  EXPECT_EQ(asked_label, "Please enter a new value (Current: 31.0):");
  EXPECT_EQ(asked_text, "31.0");
  ASSERT_EQ(writes.count(), 1);
  EXPECT_EQ(writes[0][0].toString(), "2:T1.CV1");
  EXPECT_EQ(writes[0][1].toString(), "3.5");

  // What is not written says so in the window.
  const struct {
    const char* typed;
    const char* shown;
  } refused[] = {{"  ", "T1.CV1 not written: no value was entered"},
                 {"", "T1.CV1 not written: no value was entered"},
                 {"abc", "T1.CV1 not written: not a number: abc"},
                 {"0x10", "T1.CV1 not written: not a number: 0x10"}};
  for (const auto& c : refused) {
    window.status_line()->clear();
    answer = QString(c.typed);
    window.on_cell_double_clicked(0, 1);
    EXPECT_EQ(window.status_line()->text(), c.shown) << '"' << c.typed << '"';
  }
  window.status_line()->clear();
  answer.reset();  // cancelled: nothing to say
  window.on_cell_double_clicked(0, 1);
  EXPECT_EQ(window.status_line()->text(), "");
  EXPECT_EQ(writes.count(), 3);  // 3.5, abc and 0x10 reached the worker, which refused the last two
}

TEST(UATableWindow, AServerThatCannotBeReachedIsNamedInTheWindow) {
  UATableWindow window;
  window.set_tsdb_settings({});
  UATableWindow::ViewerSettings settings;
  const int port = testing::free_port();
  settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(port);
  settings.identifier = "T1";
  window.start_opcua(settings);
  EXPECT_TRUE(qt_wait_until([&] { return !window.status_line()->text().isEmpty(); }, 15000));
  EXPECT_TRUE(window.status_line()->text().contains(QString("cannot connect to 127.0.0.1:%1").arg(port)))
      << window.status_line()->text().toStdString();
}

TEST(UATableWindow, CopyPutsTheCellTextOnTheClipboard) {
  UATableWindow window;
  window.on_node_discovered("2:T1.CV1", "CV1");
  window.on_data_changed("2:T1.CV1", "31.124578818168377");
  window.show();
  QApplication::clipboard()->setText("before");
  QTableWidget* table = window.table_widget();
  window.copy_cell_content(table->visualItemRect(table->item(0, 1)).center());
  EXPECT_EQ(QApplication::clipboard()->text(), "31.124578818168377");
  window.copy_cell_content(QPoint(5, table->viewport()->height() - 2));  // below the last row
  EXPECT_EQ(QApplication::clipboard()->text(), "31.124578818168377");
}

// Serves a small group on a fresh opcsim.
class CountingSim final : public corvex::Simulink {
 public:
  CountingSim() : Simulink({{"PV", 31.0}, {"Count", 0}}) {}
  void task() override { get_data().set("Count", get_task_count()); }
};

TEST(UATableWindow, FillsFromALiveGroupAndClosingStopsTheWorker) {
  testing::OpcsimProcess opcsim;
  auto sim = std::make_shared<CountingSim>();
  corvex::SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "T1", {.speed = 10.0});
  std::thread runner([&] { task.run(); });
  while (task.get_done_count() == 0) std::this_thread::sleep_for(10ms);

  UATableWindow window;
  window.set_tsdb_settings({});
  UATableWindow::ViewerSettings settings;
  settings.endpoint = QString("opc.tcp://localhost:%1").arg(opcsim.opcua_port());
  settings.identifier = "T1";
  settings.sub_interval = 100;
  window.start_opcua(settings);
  window.show();
  EXPECT_TRUE(qt_wait_until([&] { return cell(window, 1, 1) != "<none>" && cell(window, 1, 1) != "-"; }));
  EXPECT_EQ(cell(window, 0, 0), "T1.PV");
  EXPECT_EQ(cell(window, 0, 1), "31.0");

  window.close();
  EXPECT_TRUE(window.worker()->isFinished());
  task.stop();
  runner.join();
}

TEST(UATableWindow, StaleValuesAreGreyedWithTheirStatusUntilALiveOneComes) {
  UATableWindow window;
  window.on_node_discovered("2:T1.CV1", "CV1");
  const QTableWidgetItem* fresh = window.table_widget()->item(0, 1);
  const QBrush live_colour = fresh->foreground();
  window.on_data_changed("2:T1.CV1", "31.5");

  struct Step {
    const char* what;
    QString value;   // as the worker reports it
    QString status;  // empty: live
    QString shown;
  };
  for (const Step& step : {
           Step{"a bad status with the last value", "31.5", "BadNoCommunication (0x80310000)", "31.5"},
           Step{"no value at all keeps the last one", "", "no values from the server: TIMEOUT", "31.5"},
           Step{"live again", "32.0", "", "32.0"},
       }) {
    SCOPED_TRACE(step.what);
    if (step.status.isEmpty()) {
      window.on_data_changed("2:T1.CV1", step.value);
    } else {
      window.on_data_stale("2:T1.CV1", step.value, step.status);
    }
    const QTableWidgetItem* item = window.table_widget()->item(0, 1);
    EXPECT_EQ(item->text(), step.shown);
    EXPECT_EQ(item->toolTip().contains(step.status), true);
    EXPECT_EQ(item->toolTip().isEmpty(), step.status.isEmpty());
    EXPECT_EQ(item->foreground() == live_colour, step.status.isEmpty());
    EXPECT_EQ(item->font().italic(), !step.status.isEmpty());
  }
}

// A group of two constant tags, served for an hour.
void serve_group(const testing::OpcsimProcess& opcsim) {
  corvex::GatewayClient gateway("127.0.0.1", opcsim.gateway_port(), 5000ms);
  gateway.register_group("T1", {{"PV", 31.0}, {"MV", 29.0}}, 60min, "quorra-test");
}

TEST(UATableWindow, AHungServerNeverFreezesTheWindowAFailedWriteIsShownAndClosingTakesUnderASecond) {
  testing::OpcsimProcess opcsim;
  serve_group(opcsim);
  UATableWindow window;
  window.set_tsdb_settings({});
  UATableWindow::ViewerSettings settings;
  settings.endpoint = QString("opc.tcp://127.0.0.1:%1").arg(opcsim.opcua_port());
  settings.identifier = "T1";
  settings.sub_interval = 100;
  window.start_opcua(settings);
  window.show();
  ASSERT_TRUE(qt_wait_until([&] { return cell(window, 1, 1) == "29.0"; }));
  QString typed = "30";
  window.set_text_asker([&](QWidget*, const QString&, const QString&, const QString&) { return typed; });

  // A healthy server: written, and the row shows the server's new value.
  window.on_cell_double_clicked(1, 1);
  EXPECT_TRUE(qt_wait_until([&] { return window.status_line()->text() == "T1.MV written."; }));
  EXPECT_TRUE(qt_wait_until([&] { return cell(window, 1, 1) == "30.0"; }));

  opcsim.pause();
  QTimer ticker;
  int ticks = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  constexpr int kTickMs = 20;
  ticker.start(kTickMs);
  QElapsedTimer elapsed;
  elapsed.start();
  typed = "40";
  window.on_cell_double_clicked(1, 1);
  // The GUI thread runs its event loop until the outcome arrives: a fresh
  // connection's or a request's time-out at most.
  QEventLoop loop;
  QObject::connect(window.worker(), &tessaly::OPCHubletWorker::write_finished, &loop, &QEventLoop::quit);
  const hublet::Options client;
  QTimer::singleShot(static_cast<int>((client.connect_timeout + client.request_timeout + 5s).count()), &loop,
                     &QEventLoop::quit);
  loop.exec();
  const qint64 outcome_ms = elapsed.elapsed();
  const double expected_ticks = static_cast<double>(outcome_ms) / kTickMs;
  ticker.stop();
  EXPECT_EQ(window.status_line()->text(), "T1.MV not written: TIMEOUT");
  EXPECT_GT(ticks, expected_ticks / 2) << ticks << " ticks in " << outcome_ms << " ms";
  EXPECT_NE(cell(window, 1, 1), "40") << "the row shows the server's value, never the typed one";

  QElapsedTimer closing;
  closing.start();
  window.close();
  EXPECT_LT(closing.elapsed(), 1000);
  EXPECT_TRUE(window.worker()->isFinished());
  opcsim.resume();
  RecordProperty("write_outcome_ms", static_cast<int>(outcome_ms));
  RecordProperty("timer_ticks", ticks);
  RecordProperty("ticks_expected", static_cast<int>(expected_ticks));
  RecordProperty("close_ms", static_cast<int>(closing.elapsed()));
}

}  // namespace
}  // namespace varnok::quorra
