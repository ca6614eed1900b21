// File > Run experiment in the launcher's window, offscreen, against the
// real opcsim and a plant file run by the window at ten periods a second.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QRegularExpression>
#include <QStatusBar>
#include <fstream>

#include "opcsim_process.h"
#include "orvane_simulator_widget.h"
#include "qt_wait.h"
#include "velmora_test_support.h"

namespace varnok::velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using varnok::testing::qt_wait_until;

QString status_line(const OrvaneSimulatorWidget& window) {
  return window.statusBar()->currentMessage();
}

// Answers the file dialog with `file`.
testing::Modals::Answer choose(const fs::path& file) {
  return [file](QDialog& d) {
    dynamic_cast<QFileDialog&>(d).selectFile(QString::fromStdString(file.string()));
    return static_cast<int>(QDialog::Accepted);
  };
}

// The CSV's rows, each as its fields.
std::vector<std::vector<std::string>> rows_of(const fs::path& csv) {
  std::ifstream in(csv);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    for (std::size_t at = 0;; ++at) {
      const std::size_t comma = line.find(',', at);
      fields.push_back(line.substr(at, comma - at));
      if (comma == std::string::npos) break;
      at = comma;
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}

TEST(RunExperiment, RunsOnTheWindowsGroupWritesItsResultsBesideTheFileAndStopsWithTheProcess) {
  varnok::testing::OpcsimProcess opcsim;
  testing::ScratchDir cwd;
  testing::Modals modals;
  cwd.write("doubler.yaml", R"(name: Doubler
sampling_time: 0.1
inputs:
  U: {initial: 1}
outputs:
  Y: {initial: 2, paths: {U: {gain: 2, time_constant: 0}}}
)");
  WindowOptions options;
  options.grpc_server_port = opcsim.gateway_port();
  options.opc_ua_server_port = opcsim.opcua_port();
  options.exec_modal = modals.exec();
  options.viewer_tsdb_settings = tsdbpy::conn::Settings{};  // record nothing
  options.first_cycle_poll = 100ms;
  OrvaneSimulatorWidget window(options);
  window.lineEdit_moduleDir->setText(QString::fromStdString(cwd.path().string()));
  window.lineEdit_moduleName->setText("doubler.yaml");
  window.lineEdit_groupName->setText("XP1");
  window.start_btn->setEnabled(true);  // as after choosing it in Load process
  EXPECT_FALSE(window.experiment_action->isEnabled());
  window.start_btn->click();
  ASSERT_TRUE(qt_wait_until([&] { return window.experiment_action->isEnabled(); }, 15000))
      << "on once the viewer shows the group; " << status_line(window).toStdString();

  // A bad file: its line in a box and in the status line, nothing run.
  const fs::path bad = cwd.write("bad.yaml", "periods: 0\nrecord: [Y]\n");
  modals.then(choose(bad));
  window.experiment_action->trigger();
  ASSERT_EQ(modals.shown().size(), 2u);
  EXPECT_EQ(modals.shown()[0].kind, "QFileDialog");
  EXPECT_EQ(modals.shown()[1].title, "Cannot run the experiment");
  EXPECT_TRUE(modals.shown()[1].text.startsWith(QString::fromStdString(bad.string() + ":1:10: ")))
      << modals.shown()[1].text.toStdString();
  EXPECT_EQ(status_line(window), "Experiment not started: " + modals.shown()[1].text);

  const fs::path steps = cwd.write("steps.yaml", R"(periods: 20
record: [U, Y]
actions:
  - {at: 5, set: {U: 3}}
  - {at: 12, step: {U: -2}}
)");
  modals.then(choose(steps));
  window.experiment_action->trigger();
  ASSERT_TRUE(qt_wait_until([&] { return status_line(window).contains(" of 20"); }, 10000))
      << status_line(window).toStdString();
  window.experiment_action->trigger();
  EXPECT_EQ(status_line(window), "Experiment steps.yaml is still running: one at a time.");
  EXPECT_EQ(modals.shown().size(), 3u) << "no second file dialog";
  ASSERT_TRUE(qt_wait_until([&] { return status_line(window).startsWith("Experiment done"); }, 30000))
      << status_line(window).toStdString();

  std::vector<fs::path> results;
  for (const auto& entry : fs::directory_iterator(cwd.path())) {
    if (entry.path().filename().string().starts_with("steps-")) results.push_back(entry.path());
  }
  std::sort(results.begin(), results.end());
  ASSERT_EQ(results.size(), 2u);
  const QRegularExpression named("^steps-XP1-\\d{8}-\\d{6}\\.csv$");
  EXPECT_TRUE(named.match(QString::fromStdString(results[0].filename().string())).hasMatch()) << results[0];
  EXPECT_EQ(results[1], fs::path(results[0]).replace_extension(".png"));
  EXPECT_EQ(status_line(window), QString::fromStdString("Experiment done: results in " + results[0].string() +
                                                        " and " + results[1].string()));
  const auto rows = rows_of(results[0]);
  ASSERT_EQ(rows.size(), 21u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"period", "U", "Y"}));
  for (int period = 1; period <= 20; ++period) {
    const std::string u = period < 5 ? "1.0" : period < 12 ? "3.0" : "1.0";
    const std::string y = period < 5 ? "2.0" : period < 12 ? "6.0" : "2.0";
    EXPECT_EQ(rows[static_cast<std::size_t>(period)],
              (std::vector<std::string>{std::to_string(period), u, y}));
  }
  EXPECT_GT(fs::file_size(results[1]), 0u);

  // STOP of the process stops an experiment on it; the results so far stay.
  modals.then(choose(cwd.write("long.yaml", "periods: 100000\nrecord: [Y]\n")));
  window.experiment_action->trigger();
  ASSERT_TRUE(qt_wait_until([&] { return status_line(window).contains("period 3 of 100000"); }, 10000))
      << status_line(window).toStdString();
  window.stop_btn->click();
  EXPECT_FALSE(window.experiment_action->isEnabled());
  EXPECT_TRUE(qt_wait_until([&] { return status_line(window).startsWith("Experiment stopped ("); }, 5000))
      << status_line(window).toStdString();
  EXPECT_EQ(modals.shown().size(), 4u);
}

}  // namespace
}  // namespace varnok::velmora
