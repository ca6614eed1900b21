#pragma once

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QThread>
#include <memory>

#include "first_cycle_watch.h"
#include "process_importer.h"
#include "ua_table_window.h"
#include "window_options.h"

class QCloseEvent;
class QMessageBox;

namespace varnok::velmora {

class ExperimentControl;
class WorkerThread;

// The launcher's main window: the selected process ("Process INFO"), START
// and STOP, and the embedded viewer of the running process's tag group.
//
// Controls by state (enabled = usable):
//   Empty     START off, STOP off; Load process, Modify SimServer, group on
//   Selected  START on,  STOP off; Load process, Modify SimServer, group on
//   Running   START off, STOP on;  Load process, Modify SimServer, group off
//   Stopped   START on,  STOP off; Load process, Modify SimServer, group off
// Run experiment is on while a process runs and the viewer shows its group.
// Once the viewer shows a group, the window serves that one process on that
// group. Until then a process that stops (STOP, no first cycle in time, or
// it ended) leaves the window Selected, so the address or group can still
// be changed.
class OrvaneSimulatorWidget final : public QMainWindow {
  Q_OBJECT

 public:
  explicit OrvaneSimulatorWidget(QWidget* parent = nullptr);
  explicit OrvaneSimulatorWidget(WindowOptions options, QWidget* parent = nullptr);
  ~OrvaneSimulatorWidget() override;

  QAction* load_action;
  QAction* server_action;
  QAction* experiment_action;
  QLineEdit* lineEdit_moduleName;
  QLineEdit* lineEdit_objectName;
  QLineEdit* lineEdit_groupName;
  QLineEdit* lineEdit_processDetail;
  QLineEdit* lineEdit_moduleDir;
  QPushButton* start_btn;
  QPushButton* stop_btn;
  quorra::UATableWindow* ua_widget;

  // The thread of the current process; an idle, never started one before
  // the first START.
  QThread* worker_thread() const noexcept { return worker_thread_; }

  const QString& grpc_server_ip() const noexcept { return options_.grpc_server_ip; }
  int grpc_server_port() const noexcept { return options_.grpc_server_port; }
  const QString& opc_ua_server_ip() const noexcept { return options_.opc_ua_server_ip; }
  int opc_ua_server_port() const noexcept { return options_.opc_ua_server_port; }

 public slots:
  void show_dialog();
  void show_server_dialog();
  void start_process_btn_clicked();
  void stop_process_btn_clicked();
  // Loads the process in the "Process INFO" fields afresh (a module, or a
  // plant file read again) and runs it.
  void start_process();
  // Stops the running process and waits for its thread; an experiment
  // running on it is stopped too (without waiting).
  void close_process();
  // File > Run experiment: a file chosen by the user, run on the viewer's group.
  void run_experiment();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class State { Empty, Selected, Running, Stopped };

  void build_ui();
  void set_state(State state);
  // The state a process that stopped leaves behind (see the class comment).
  State stopped_state() const;
  void start_viewer();
  QString viewer_endpoint() const;
  QString viewer_group() const;
  void on_first_cycle_missed();
  void on_first_cycle_waiting(qint64 elapsed_ms);
  void on_worker_finished();
  int show_message(QMessageBox& box);
  void report(const QString& title, const QString& text, bool critical);

  WindowOptions options_;
  ProcessImporter importer_;
  QThread* worker_thread_;
  FirstCycleWatch first_cycle_;
  ExperimentControl* experiment_;
  QString last_failure_;     // why the current task's run() failed, if it did
  bool stop_asked_ = false;  // the current thread ends because we stopped it
};

}  // namespace varnok::velmora
