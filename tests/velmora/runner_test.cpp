// Processes run from the launcher's window against the real opcsim: the
// built-in SISO plant, the ready-made task kinds of a fixture module, the
// example user process, and starts that go wrong.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStatusBar>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "OPCGatePy/opc_calc_task.h"
#include "corvex/simulink_opc_gate_task.h"
#include "launcher_startup.h"
#include "opcsim_process.h"
#include "orvane_simulator_widget.h"
#include "qt_wait.h"
#include "select_item_dialog.h"
#include "velmora_test_support.h"
#include "worker_thread.h"

namespace varnok::velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::CapturedStdout;
using testing::count_of;
using varnok::testing::qt_wait_until;

// START, STOP, Load process, Modify SimServer, group field: enabled?
using Controls = std::vector<bool>;
const Controls kSelected{true, false, true, true, true};
const Controls kRunning{false, true, false, false, false};
const Controls kStopped{true, false, false, false, false};

Controls controls_of(const OrvaneSimulatorWidget& w) {
  return {w.start_btn->isEnabled(), w.stop_btn->isEnabled(), w.load_action->isEnabled(),
          w.server_action->isEnabled(), w.lineEdit_groupName->isEnabled()};
}

// The viewer's value text of a node name; "" without a row.
QString shown(const OrvaneSimulatorWidget& window, const QString& node_name) {
  const auto items = window.ua_widget->table_widget()->findItems(node_name, Qt::MatchExactly);
  if (items.isEmpty() || items[0]->column() != 0) return {};
  const QTableWidgetItem* value = window.ua_widget->table_widget()->item(items[0]->row(), 1);
  return value ? value->text() : QString();
}
double number(const OrvaneSimulatorWidget& window, const QString& node_name) {
  bool ok = false;
  const double value = shown(window, node_name).toDouble(&ok);
  return ok ? value : std::nan("");
}

template <typename T>
T* task_as(const OrvaneSimulatorWidget& window) {
  const auto* thread = qobject_cast<const WorkerThread*>(window.worker_thread());
  return thread ? dynamic_cast<T*>(thread->task.get()) : nullptr;
}

class RunningProcesses : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    opcsim_ = std::make_unique<varnok::testing::OpcsimProcess>();
    setenv("VELMORA_FIXTURE_GATEWAY_PORT", std::to_string(opcsim_->gateway_port()).c_str(), 1);
  }
  static void TearDownTestSuite() { opcsim_.reset(); }

  WindowOptions options() {
    WindowOptions o;
    o.grpc_server_port = opcsim_->gateway_port();
    o.opc_ua_server_port = opcsim_->opcua_port();
    o.exec_modal = modals.exec();
    o.viewer_tsdb_settings = tsdbpy::conn::Settings{};  // record nothing
    o.first_cycle_poll = 100ms;
    return o;
  }
  // As if the catalogue had offered this object of the fixture module.
  static void select_fixture(OrvaneSimulatorWidget& window, const QString& object, const QString& group) {
    window.lineEdit_moduleDir->setText(VELMORA_FIXTURE_DIR);
    window.lineEdit_moduleName->setText("velmora_fixture");
    window.lineEdit_objectName->setText(object);
    window.lineEdit_groupName->setText(group);
    window.start_btn->setEnabled(true);
  }
  void choose_last_row() {
    modals.then([](QDialog& d) {
      auto& dialog = dynamic_cast<SelectItemDialog&>(d);
      dialog.tableWidget->setCurrentCell(dialog.tableWidget->rowCount() - 1, 0);
      return static_cast<int>(QDialog::Accepted);
    });
  }

  static std::unique_ptr<varnok::testing::OpcsimProcess> opcsim_;
  testing::ScratchDir cwd;
  testing::Modals modals;
};
std::unique_ptr<varnok::testing::OpcsimProcess> RunningProcesses::opcsim_;

TEST_F(RunningProcesses, TheSISOPlantRunsIsViewedStopsAndStartsAfreshUnderTheSameViewer) {
  OrvaneSimulatorWidget window(options());
  modals.then([](QDialog& d) {
    dynamic_cast<SelectItemDialog&>(d).tableWidget->setCurrentCell(0, 2);
    return static_cast<int>(QDialog::Accepted);
  });
  window.load_action->trigger();
  CapturedStdout out;
  window.start_btn->click();
  EXPECT_EQ(controls_of(window), kRunning);
  EXPECT_EQ(window.ua_widget->worker(), nullptr) << "the viewer waits for the first cycle";
  ASSERT_TRUE(qt_wait_until([&] { return number(window, "T1.RunCount") >= 4; }, 15000));
  const auto* viewer = window.ua_widget->worker();

  // A value typed into the viewer reaches the plant, which publishes it back.
  emit window.ua_widget->worker()->write_request("2:T1.MV1", "42.5");
  ASSERT_TRUE(qt_wait_until([&] { return shown(window, "T1.MV1") == "42.5"; }, 5000));

  window.stop_btn->click();
  EXPECT_EQ(controls_of(window), kStopped);
  EXPECT_FALSE(window.worker_thread()->isRunning());
  const double count_at_stop = number(window, "T1.RunCount");

  // A fresh plant: initial MV1, RunCount from 1 again; the same viewer.
  window.start_btn->click();
  EXPECT_EQ(controls_of(window), kRunning);
  EXPECT_TRUE(qt_wait_until(
      [&] { return shown(window, "T1.MV1") != "42.5" && number(window, "T1.RunCount") < count_at_stop; },
      10000));
  EXPECT_EQ(window.ua_widget->worker(), viewer);
  window.stop_btn->click();

  const std::string text = out.take();
  EXPECT_EQ(
      count_of(text, "Connect to OPC Server localhost:" + std::to_string(opcsim_->gateway_port()) + "\n"), 2);
  EXPECT_EQ(count_of(text, "task started.\n"), 2);
  EXPECT_EQ(count_of(text, "task stopped.\n"), 2);
}

// As a user whose services run elsewhere sets the environment: the probes,
// the task and the viewer all go there, the recorder to the database port.
TEST_F(RunningProcesses, TheEnvironmentsAddressesReachTheProbesTheTaskAndTheViewer) {
  const int db_port = testing::closed_port();
  const std::pair<const char*, int> variables[] = {{"VARNOK_OPCUA_PORT", opcsim_->opcua_port()},
                                                   {"VARNOK_GATEWAY_PORT", opcsim_->gateway_port()},
                                                   {"VARNOK_DB_PORT", db_port}};
  for (const auto& [name, port] : variables) setenv(name, std::to_string(port).c_str(), 1);
  StartupOptions startup = StartupOptions::at(defaults::addresses());
  for (const auto& [name, port] : variables) unsetenv(name);

  EXPECT_TRUE(check_opcgate_connection(startup.probes));
  ASSERT_TRUE(startup.window.viewer_tsdb_settings.has_value());
  EXPECT_TRUE(std::any_of(
      startup.window.viewer_tsdb_settings->begin(), startup.window.viewer_tsdb_settings->end(),
      [&](const tsdbpy::conn::Setting& s) { return s.key == "port" && s.value == std::to_string(db_port); }));
  startup.window.exec_modal = modals.exec();
  startup.window.viewer_tsdb_settings = tsdbpy::conn::Settings{};  // record nothing
  OrvaneSimulatorWidget window(startup.window);
  modals.then([](QDialog& d) {
    dynamic_cast<SelectItemDialog&>(d).tableWidget->setCurrentCell(0, 0);
    return static_cast<int>(QDialog::Accepted);
  });
  window.load_action->trigger();
  window.lineEdit_groupName->setText("ENV1");
  window.start_btn->click();
  EXPECT_TRUE(qt_wait_until([&] { return number(window, "ENV1.RunCount") >= 2; }, 15000));
  window.stop_btn->click();
}

TEST_F(RunningProcesses, AReadyMadeTaskRunsOnItsOwnAddressAndTheViewerOnTheGroupWithoutTrailingBlanks) {
  WindowOptions o = options();
  o.grpc_server_port = testing::closed_port();  // not used for a ready-made task
  OrvaneSimulatorWidget window(o);
  select_fixture(window, "Ready", "RG1  ");
  CapturedStdout out;
  window.start_process();
  ASSERT_NE(task_as<corvex::SimulinkOPCGateTask>(window), nullptr);
  EXPECT_EQ(task_as<corvex::SimulinkOPCGateTask>(window)->group_tag(), "RG1");
  EXPECT_TRUE(qt_wait_until([&] { return number(window, "RG1.Count") > 0; }, 10000));
  window.close_process();
  EXPECT_EQ(out.take().find("Connect to OPC Server"), std::string::npos);
}

TEST_F(RunningProcesses, AGroupWithTrailingBlanksReachesTheTaskWhichEndsWithTheGatewaysReason) {
  OrvaneSimulatorWidget window(options());
  select_fixture(window, "Counter", "CB1  ");
  window.start_process();
  ASSERT_NE(task_as<corvex::SimulinkOPCGateTask>(window), nullptr);
  EXPECT_EQ(task_as<corvex::SimulinkOPCGateTask>(window)->group_tag(), "CB1  ");
  // The gateway refuses a group name with blanks, and says why.
  ASSERT_TRUE(qt_wait_until([&] { return !modals.shown().empty(); }, 5000));
  EXPECT_EQ(modals.shown()[0].title, "Process ended");
  EXPECT_TRUE(modals.shown()[0].text.contains("contains whitespace")) << modals.shown()[0].text.toStdString();
  EXPECT_FALSE(window.worker_thread()->isRunning());
  EXPECT_EQ(window.ua_widget->worker(), nullptr);
  EXPECT_EQ(controls_of(window), kSelected) << "no viewer yet: address and group may still change";
}

// Holds a group on the gateway, as another plant would.
class Idle final : public corvex::Simulink {
 public:
  Idle() : Simulink({{"X", 0.0}}) {}
  void task() override {}
};

QString status_line(const OrvaneSimulatorWidget& window) {
  return window.statusBar()->currentMessage();
}

TEST_F(RunningProcesses, AGroupServedByAnotherPlantIsNamedWhileWaitingAndStopEndsTheWait) {
  corvex::SimulinkOPCGateTask holder("localhost", opcsim_->gateway_port(), std::make_shared<Idle>(), "CB2");
  std::thread holding([&] { holder.run(); });
  ASSERT_TRUE(qt_wait_until([&] { return holder.get_done_count() > 0; }, 10000));
  const QString held =
      QStringLiteral("group \"CB2\" is served by another task (client \"velmora_runner_test pid %1\")")
          .arg(QCoreApplication::applicationPid());

  WindowOptions o = options();
  o.first_cycle_limit = 1500ms;
  OrvaneSimulatorWidget window(o);
  select_fixture(window, "Counter", "CB2");
  window.start_process();
  EXPECT_TRUE(qt_wait_until([&] { return status_line(window).contains(held); }, 5000))
      << status_line(window).toStdString();
  EXPECT_TRUE(status_line(window).startsWith("Waiting for the first cycle ("))
      << status_line(window).toStdString();
  window.stop_btn->click();
  EXPECT_FALSE(window.worker_thread()->isRunning()) << "STOP ends the wait";
  EXPECT_EQ(status_line(window), "Stopped.");
  EXPECT_TRUE(modals.shown().empty());
  EXPECT_EQ(controls_of(window), kSelected);

  // Left to wait, the box names the holder and what to do.
  window.start_process();
  ASSERT_TRUE(qt_wait_until([&] { return !modals.shown().empty(); }, 5000));
  EXPECT_EQ(modals.shown()[0].title, "No first cycle");
  EXPECT_TRUE(modals.shown()[0].text.contains("The last cause seen: " + held))
      << modals.shown()[0].text.toStdString();
  EXPECT_TRUE(modals.shown()[0].text.contains("choose another OPC Tag Group"));
  EXPECT_FALSE(window.worker_thread()->isRunning());
  EXPECT_EQ(window.ua_widget->worker(), nullptr);
  EXPECT_EQ(controls_of(window), kSelected);
  holder.stop();
  holding.join();
}

TEST_F(RunningProcesses, AGatewayThatCannotBeReachedIsNamedByItsAddress) {
  WindowOptions o = options();
  o.grpc_server_port = testing::closed_port();
  o.first_cycle_limit = 1500ms;
  OrvaneSimulatorWidget window(o);
  select_fixture(window, "Counter", "CB3");
  window.start_process();
  const QString address = QStringLiteral("localhost:%1").arg(o.grpc_server_port);
  EXPECT_TRUE(qt_wait_until([&] { return status_line(window).contains(address); }, 5000))
      << status_line(window).toStdString();
  ASSERT_TRUE(qt_wait_until([&] { return !modals.shown().empty(); }, 5000));
  EXPECT_TRUE(modals.shown()[0].text.contains(address)) << modals.shown()[0].text.toStdString();
  EXPECT_TRUE(modals.shown()[0].text.contains("Check that the OPC gateway is running"));
}

TEST_F(RunningProcesses, ATaskThatEndsByItselfLeavesTheWindowStopped) {
  OrvaneSimulatorWidget window(options());
  select_fixture(window, "Finite", "FIN1");
  window.start_process();
  ASSERT_TRUE(qt_wait_until([&] { return !modals.shown().empty(); }, 10000));
  EXPECT_EQ(modals.shown()[0].text, "The process ended by itself.");
  EXPECT_EQ(controls_of(window), kStopped);
  EXPECT_NE(window.ua_widget->worker(), nullptr);
  ASSERT_NE(task_as<opcgatepy::OPCCalcTask>(window), nullptr);
  EXPECT_EQ(task_as<opcgatepy::OPCCalcTask>(window)->get_done_count(), 5);
}

TEST_F(RunningProcesses, AFailedStartNamesTheCauseAndChangesNoControl) {
  OrvaneSimulatorWidget window(options());
  const std::vector<std::tuple<QString, QString, QString>> cases{
      {"no.such.module", "X", "no module named \"no.such.module\""},
      {"velmora_fixture", "Nope", "has no object \"Nope\""},
      {"velmora_fixture", "Plain", "neither a simulation nor a ready-made"},
      {"velmora_fixture", "Counter", "port 70000 is not in 1..65535"},
  };
  CapturedStdout out;
  for (const auto& [module, object, cause] : cases) {
    if (object == "Counter") {  // the task refuses the gateway port
      modals.then([](QDialog& d) {
        d.findChild<QLineEdit*>("port_line_edit")->setText("70000");
        return static_cast<int>(QDialog::Accepted);
      });
      window.show_server_dialog();
    }
    select_fixture(window, object, "G1");
    window.lineEdit_moduleName->setText(module);
    window.start_btn->click();
    EXPECT_EQ(modals.shown().back().title, "Cannot start the process");
    EXPECT_TRUE(modals.shown().back().text.contains(cause)) << modals.shown().back().text.toStdString();
    EXPECT_EQ(controls_of(window), kSelected);
    EXPECT_FALSE(window.worker_thread()->isRunning());
  }
  EXPECT_EQ(count_of(out.take(), "Error\n"), 1) << "only for an object of the wrong kind";
}

TEST_F(RunningProcesses, ClosingWhileRunningAsksAndOnlyYesStopsTheProcess) {
  OrvaneSimulatorWidget window(options());
  window.show();
  select_fixture(window, "Calc", "CALC1");
  CapturedStdout out;
  window.start_process();
  ASSERT_TRUE(qt_wait_until([&] { return number(window, "CALC1.OUT") == 2.0; }, 10000));
  modals.then_button(QMessageBox::No);
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.worker_thread()->isRunning());
  const auto& question = modals.shown()[0];
  EXPECT_EQ(question.title + " | " + question.text,
            "Message | Process is running. Are you sure you want to quit?");
  EXPECT_EQ(question.default_button, QMessageBox::No);
  modals.then_button(QMessageBox::Yes);
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.worker_thread()->isRunning());
  EXPECT_EQ(count_of(out.take(), "task stopped.\n"), 1);
}

TEST_F(RunningProcesses, TheExampleUserProcessIsListedAndRuns) {
  fs::create_directories(cwd.path() / "process");
  fs::copy_file(VELMORA_EXAMPLE_INFO, cwd.path() / "process/info.yaml");
  fs::create_symlink(VELMORA_EXAMPLE_PLUGIN, cwd.path() / "process/tank.so");
  OrvaneSimulatorWidget window(options());
  choose_last_row();
  window.show_dialog();
  ASSERT_EQ(window.lineEdit_moduleName->text() + " " + window.lineEdit_groupName->text(), "tank TK1");
  window.start_btn->click();
  ASSERT_TRUE(qt_wait_until([&] { return number(window, "TK1.CV1") == 1.0; }, 10000)) << "steady state";
  emit window.ua_widget->worker()->write_request("2:TK1.MV1", "80");
  EXPECT_TRUE(qt_wait_until([&] { return number(window, "TK1.CV1") > 1.001; }, 6000));
  window.stop_btn->click();
}

// The example descriptor, with a plant file of the test's own beside it.
TEST_F(RunningProcesses, APlantFileIsReadOnEveryStartABadOneStartsNothingAndTheFixedOneRuns) {
  fs::create_directories(cwd.path() / "plants/process");
  fs::copy_file(VELMORA_PLANTS_EXAMPLE_INFO, cwd.path() / "plants/process/info.yaml");
  const fs::path plant = cwd.path() / "plants/wood_berry.yaml";
  fs::copy_file(VELMORA_PLANT_FIXTURE, plant);
  OrvaneSimulatorWidget window(options());
  choose_last_row();
  window.show_dialog();
  ASSERT_EQ(window.lineEdit_moduleName->text() + " | " + window.lineEdit_objectName->text() + " | " +
                window.lineEdit_groupName->text() + " | " + window.lineEdit_processDetail->text(),
            "../wood_berry.yaml | Gain plant | PG1 | Y is twice U");

  cwd.write("plants/wood_berry.yaml",
            "name: B\ninputs: {U: {initial: 1}}\noutputs: {Y: {initial: 0, paths: {V: {}}}}\n");
  const std::string line_start = plant.string() + ":3:35: ";
  CapturedStdout out;
  window.start_btn->click();
  ASSERT_EQ(modals.shown().size(), 2u);
  EXPECT_EQ(modals.shown()[1].title, "Cannot start the process");
  EXPECT_TRUE(modals.shown()[1].text.startsWith(QString::fromStdString(line_start)))
      << modals.shown()[1].text.toStdString();
  EXPECT_EQ(count_of(out.take(), "Cannot start the process: " + modals.shown()[1].text.toStdString() + "\n"),
            1);
  EXPECT_EQ(controls_of(window), kSelected);
  EXPECT_FALSE(window.worker_thread()->isRunning());
  EXPECT_EQ(status_line(window), "Not started: " + modals.shown()[1].text);

  fs::copy_file(VELMORA_PLANT_FIXTURE, plant, fs::copy_options::overwrite_existing);
  window.start_btn->click();
  ASSERT_TRUE(qt_wait_until([&] { return number(window, "PG1.Y") == 2.0; }, 10000)) << "first cycle seen";
  EXPECT_EQ(status_line(window), "Running on group PG1.");
  emit window.ua_widget->worker()->write_request("2:PG1.U", "3");
  EXPECT_TRUE(qt_wait_until([&] { return number(window, "PG1.Y") == 6.0; }, 5000));
  window.stop_btn->click();
  EXPECT_EQ(modals.shown().size(), 2u);
}

}  // namespace
}  // namespace varnok::velmora
