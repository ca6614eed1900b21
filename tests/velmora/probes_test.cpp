// The start-up probes and the two gates of the launcher's start, on
// throw-away listeners and a throw-away PostgreSQL.

#include <gtest/gtest.h>
#include <poll.h>

#include <QApplication>
#include <QTimer>

#include "connectivity.h"
#include "launcher_startup.h"
#include "orvane_simulator_widget.h"
#include "pg_cluster.h"
#include "velmora_test_support.h"

namespace varnok::velmora {
namespace {

using namespace std::chrono_literals;
using testing::CapturedStdout;
using testing::closed_port;
using testing::Listener;
using testing::Modals;

TEST(PortProbe, SeesListenersOnlyAndGivesUpOnASilentPeerAfterItsTimeOut) {
  const Listener listener;
  EXPECT_TRUE(check_port_open("localhost", listener.port()));
  EXPECT_FALSE(check_port_open("localhost", closed_port()));
  EXPECT_FALSE(check_port_open("no-such-host.invalid", listener.port()));
  EXPECT_THROW(check_port_open("localhost", 65536), std::invalid_argument);

  // A listener whose accept queue is full drops further handshakes unanswered.
  const Listener full(0);
  for (int i = 0; i < 3; ++i) check_port_open("127.0.0.1", full.port(), 200ms);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(check_port_open("127.0.0.1", full.port(), 700ms));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, 650ms);
  EXPECT_LT(took, 1500ms);
}

TEST(OPCServerCheck, NamesTheFirstClosedPortAndProbesNoFurther) {
  const Listener open;
  const int closed = closed_port();
  CapturedStdout out;
  EXPECT_FALSE(check_opcgate_connection({.opc_ports = {closed, open.port()}}));
  pollfd waiting{open.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 0), 0) << "the second port was probed";
  EXPECT_FALSE(check_opcgate_connection({.opc_ports = {open.port(), closed}}));
  EXPECT_TRUE(check_opcgate_connection({.opc_ports = {open.port(), open.port()}}));
  const std::string line = "OrvaneOPCSim is not reachable on localhost:" + std::to_string(closed) + "\n";
  EXPECT_EQ(out.take(), line + line + "OrvaneOPCSim is reachable.\n");
}

// The gates, with the probes pointed at listeners and a database.
class LauncherStart : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster_ = std::make_unique<tsdbpy_testing::PgCluster>(); }
  static void TearDownTestSuite() { cluster_.reset(); }

  int run(std::vector<int> opc_ports, int database_port) {
    StartupOptions o;
    o.probes.opc_ports = std::move(opc_ports);
    o.probes.database.push_back({"host", "127.0.0.1"});  // later settings win
    o.probes.database.push_back({"port", database_port});
    o.window.exec_modal = modals.exec();
    o.window.viewer_tsdb_settings = tsdbpy::conn::Settings{};
    // Closes the launcher's window as soon as the event loop runs.
    QTimer::singleShot(0, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* w = qobject_cast<OrvaneSimulatorWidget*>(widget); w && w->isVisible())
          window_shown = w->close();
      }
    });
    const int code = run_launcher(*qobject_cast<QApplication*>(QCoreApplication::instance()), o);
    QCoreApplication::processEvents();  // the timer, if no loop ran
    return code;
  }

  static std::unique_ptr<tsdbpy_testing::PgCluster> cluster_;
  Modals modals;
  Listener opc_ua, gateway;
  bool window_shown = false;
};
std::unique_ptr<tsdbpy_testing::PgCluster> LauncherStart::cluster_;

TEST_F(LauncherStart, WithoutTheOPCServerOnlyTheConnectionErrorIsShownAndTheExitCodeIsOne) {
  CapturedStdout out;
  EXPECT_EQ(run({closed_port(), gateway.port()}, closed_port()), 1);
  EXPECT_EQ(run({opc_ua.port(), closed_port()}, closed_port()), 1);
  EXPECT_EQ(out.take().find("Database"), std::string::npos) << "the database was probed";
  ASSERT_EQ(modals.shown().size(), 2u);
  const auto& box = modals.shown()[0];
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.title, "Connection Error / 连接错误");
  EXPECT_EQ(box.text, "Cannot connect to OrvaneOPCSim / 无法连接到 OrvaneOPCSim 服务");
  EXPECT_EQ(
      box.informative,
      "Please ensure OrvaneOPCSim is running and reachable.\n请确保 OrvaneOPCSim 服务正在运行并且可访问。");
  EXPECT_TRUE(box.has_window_icon);
  EXPECT_FALSE(window_shown);
}

TEST_F(LauncherStart, WithoutTheDatabaseNoExitsWithOneAndYesShowsTheWindow) {
  modals.then_button(QMessageBox::No);
  modals.then_button(QMessageBox::Yes);
  CapturedStdout out;
  EXPECT_EQ(run({opc_ua.port(), gateway.port()}, closed_port()), 1);
  EXPECT_FALSE(window_shown);
  EXPECT_EQ(run({opc_ua.port(), gateway.port()}, closed_port()), 0) << "the event loop's code";
  EXPECT_TRUE(window_shown);
  EXPECT_EQ(testing::count_of(out.take(), "Database connection error: connection to server at"), 2);
  ASSERT_EQ(modals.shown().size(), 2u);
  const auto& box = modals.shown()[0];
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.title, "Connection Warning / 连接警告");
  EXPECT_EQ(box.text, "Cannot connect to TSDB simulation / 无法连接到 TSDB 仿真专用数据库");
  EXPECT_EQ(box.informative,
            "Continue without database? Simulation data will NOT be saved.\n"
            "是否在没有数据库的情况下继续运行？仿真数据将不会被保存。");
  EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.default_button, QMessageBox::No);
}

TEST_F(LauncherStart, WithEverythingReachableNothingIsAsked) {
  CapturedStdout out;
  EXPECT_EQ(run({opc_ua.port(), gateway.port()}, cluster_->port()), 0);
  EXPECT_EQ(out.take(), "OrvaneOPCSim is reachable.\n");
  EXPECT_TRUE(window_shown);
  EXPECT_TRUE(modals.shown().empty());
}

}  // namespace
}  // namespace varnok::velmora
