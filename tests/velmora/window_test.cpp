#include <gtest/gtest.h>

#include <QSignalSpy>

#include "orvane_simulator_widget.h"
#include "qt_wait.h"
#include "select_item_dialog.h"
#include "server_dialog.h"
#include "velmora_test_support.h"
#include "worker_thread.h"

namespace varnok::velmora {
namespace {

using testing::Modals;
using testing::ScratchDir;

// START, STOP, Load process, Modify SimServer, group field: enabled?
std::vector<bool> controls_of(const OrvaneSimulatorWidget& w) {
  return {w.start_btn->isEnabled(), w.stop_btn->isEnabled(), w.load_action->isEnabled(),
          w.server_action->isEnabled(), w.lineEdit_groupName->isEnabled()};
}

// Answers the catalogue dialog: Ok with this current row (-1: none).
Modals::Answer choose_row(int row, int result = QDialog::Accepted) {
  return [row, result](QDialog& d) {
    dynamic_cast<SelectItemDialog&>(d).tableWidget->setCurrentCell(row, row < 0 ? -1 : 0);
    return result;
  };
}

Modals::Answer type_address(QString host, QString port, int result = QDialog::Accepted) {
  return [=](QDialog& d) {
    auto& dialog = dynamic_cast<ServerDialog&>(d);
    if (!host.isNull()) dialog.ip_line_edit->setText(host);
    if (!port.isNull()) dialog.port_line_edit->setText(port);
    return result;
  };
}

class LauncherWindow : public ::testing::Test {
 protected:
  WindowOptions options() {
    WindowOptions o;
    o.exec_modal = modals.exec();
    o.viewer_tsdb_settings = tsdbpy::conn::Settings{};
    return o;
  }
  ScratchDir cwd;
  Modals modals;
};

TEST_F(LauncherWindow, StartsEmptyWithOnlyTheGroupFieldAndMenuUsableAndClosesWithoutAsking) {
  OrvaneSimulatorWidget window(options());
  EXPECT_FALSE(window.windowIcon().availableSizes().isEmpty()) << "pics/pet.ico beside the program";
  EXPECT_EQ(controls_of(window), (std::vector<bool>{false, false, true, true, true}));
  for (QLineEdit* edit : {window.lineEdit_moduleName, window.lineEdit_objectName,
                          window.lineEdit_processDetail, window.lineEdit_moduleDir}) {
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_TRUE(edit->text().isEmpty());
  }
  EXPECT_FALSE(window.worker_thread()->isRunning());
  EXPECT_EQ(window.ua_widget->worker(), nullptr);
  window.show();
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text() == "Exit") action->trigger();
  }
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(modals.shown().empty());
}

TEST_F(LauncherWindow, TheCatalogueListsTheBuiltInPlantsThenTheDescriptorsBelowTheWorkingDirectory) {
  {
    SelectItemDialog dialog;
    ASSERT_EQ(dialog.tableWidget->rowCount(), 6);
    QStringList modules;
    for (int row = 0; row < 6; ++row) modules << dialog.tableWidget->item(row, 0)->text();
    EXPECT_EQ(modules, (QStringList{"varnok.SISO", "varnok.Fractor", "varnok.Calder", "varnok.Brinell",
                                    "varnok.Farrow", "varnok.Dunmore"}));
    EXPECT_FALSE(dialog.get_selected_item().has_value());
  }
  cwd.write("mine/process/info.yaml", "file: plant.py\nobject: Plant\ndefaultGroup: P1\ndescription: Mine\n");
  cwd.write("bad/process/info.yaml", "[broken\n");
  const SelectItemDialog dialog;
  ASSERT_EQ(dialog.tableWidget->rowCount(), 7);
  EXPECT_EQ(dialog.tableWidget->item(6, 1)->text(), "Plant");
  EXPECT_EQ(dialog.tableWidget->item(6, SelectItemDialog::kGroupColumn)->text(), "P1");
  EXPECT_EQ(dialog.tableWidget->item(6, SelectItemDialog::kDirectoryColumn)->text(),
            QString::fromStdString((cwd.path() / "mine/process").string()));
}

TEST_F(LauncherWindow, TheCatalogueShowsEveryEntryOnOneReadableLineWithItsWholeTextOnHover) {
  cwd.write("mine/process/info.yaml",
            "file: plant.py\nobject: Plant\ndefaultGroup: P1\ndescription: " + std::string(300, 'd') + "\n");
  SelectItemDialog dialog;
  dialog.show();
  QTableWidget* table = dialog.tableWidget;
  for (int column = 0; column < table->columnCount(); ++column) {
    EXPECT_FALSE(table->horizontalHeaderItem(column)->text().isEmpty()) << "column " << column;
  }
  const int line = table->fontMetrics().height();
  for (int row = 0; row < table->rowCount(); ++row) {
    EXPECT_LT(table->rowHeight(row), 2 * line) << "row " << row << " is more than one line";
    for (int column = 0; column < table->columnCount(); ++column) {
      EXPECT_EQ(table->item(row, column)->toolTip(), table->item(row, column)->text());
    }
  }
  EXPECT_GE(table->viewport()->height(), 7 * table->rowHeight(0)) << "every one of the 7 rows in view";
  EXPECT_GT(table->columnWidth(SelectItemDialog::kDescriptionColumn), 200);
}

TEST_F(LauncherWindow, OkCopiesTheCurrentRowCancelChangesNothingOkWithoutARowDisablesStart) {
  cwd.write("process/info.yaml", "file: plant.py\nobject: Plant\ndefaultGroup: P1\ndescription: Mine\n");
  OrvaneSimulatorWidget window(options());
  modals.then(choose_row(0, QDialog::Rejected));
  window.load_action->trigger();
  EXPECT_TRUE(window.lineEdit_moduleName->text().isEmpty());
  EXPECT_FALSE(window.start_btn->isEnabled());

  modals.then(choose_row(6));
  window.load_action->trigger();
  const QStringList fields{window.lineEdit_moduleName->text(), window.lineEdit_objectName->text(),
                           window.lineEdit_groupName->text(), window.lineEdit_processDetail->text(),
                           window.lineEdit_moduleDir->text()};
  EXPECT_EQ(fields, (QStringList{"plant", "Plant", "P1", "Mine",
                                 QString::fromStdString((cwd.path() / "process").string())}));
  EXPECT_EQ(controls_of(window), (std::vector<bool>{true, false, true, true, true}));
  for (QLineEdit* edit :
       {window.lineEdit_moduleName, window.lineEdit_processDetail, window.lineEdit_moduleDir}) {
    EXPECT_EQ(edit->cursorPosition(), 0) << "the start of the text in view";
    EXPECT_EQ(edit->toolTip(), edit->text());
  }

  modals.then(choose_row(-1));
  window.load_action->trigger();
  EXPECT_FALSE(window.start_btn->isEnabled());
  EXPECT_EQ(window.lineEdit_moduleName->text(), "plant");
  EXPECT_EQ(modals.shown().size(), 3u);
}

TEST_F(LauncherWindow, TheServerDialogSetsTheGatewayAddressAndRefusesANonIntegerPort) {
  const ServerDialog plain;
  EXPECT_EQ(plain.get_values(), (std::pair<QString, QString>{"0.0.0.0", "1234"}));

  OrvaneSimulatorWidget window(options());
  modals.then(type_address({}, {}));  // accepted unchanged
  window.server_action->trigger();
  EXPECT_EQ(std::make_pair(window.grpc_server_ip(), window.grpc_server_port()),
            std::make_pair(QString("localhost"), 22210));

  modals.then(type_address("gw.local ", " 23310 "));
  window.show_server_dialog();
  EXPECT_EQ(std::make_pair(window.grpc_server_ip(), window.grpc_server_port()),
            std::make_pair(QString("gw.local "), 23310));

  for (const char* port : {"22x10", "", "99999999999"}) {
    modals.then(type_address("other", port));
    window.show_server_dialog();
    EXPECT_TRUE(modals.shown().back().text.contains("is not a whole number")) << port;
  }
  modals.then(type_address("other", "1", QDialog::Rejected));
  window.show_server_dialog();
  EXPECT_EQ(std::make_pair(window.grpc_server_ip(), window.grpc_server_port()),
            std::make_pair(QString("gw.local "), 23310));
  EXPECT_EQ(window.opc_ua_server_port(), 22200);
}

// A task's run() that throws ends its thread with a reason instead of
// taking the launcher down.
TEST(WorkerThreadTest, ARunThatThrowsEndsTheThreadAndSaysWhy) {
  struct Failing final : corvex::Task {
    void run() override { throw std::runtime_error("lost the plant"); }
    void stop() override {}
    std::int64_t get_done_count() const override { return 0; }
  };
  testing::CapturedStdout out;
  QObject owner;
  auto* thread = new WorkerThread(&owner, std::make_shared<Failing>());
  QSignalSpy failed(thread, &WorkerThread::task_failed);
  thread->start();
  ASSERT_TRUE(varnok::testing::qt_wait_until([&] { return thread->isFinished() && failed.count() == 1; }));
  EXPECT_EQ(failed.at(0).at(0).toString(), "lost the plant");
  EXPECT_EQ(out.take(), "task started.\ntask failed: lost the plant\n");
}

}  // namespace
}  // namespace varnok::velmora
