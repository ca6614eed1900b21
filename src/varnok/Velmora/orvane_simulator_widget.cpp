#include "orvane_simulator_widget.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <iostream>

#include "app_icon.h"
#include "experiment_control.h"
#include "plant_file_process.h"
#include "process_task.h"
#include "select_item_dialog.h"
#include "server_dialog.h"
#include "varnok/plantfile/plant_file.h"
#include "worker_thread.h"

namespace varnok::velmora {

namespace {

QString without_trailing_space(QString text) {
  while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
  return text;
}

QLineEdit* line_edit(QWidget* parent, const char* name, bool enabled) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setEnabled(enabled);
  return edit;
}

}  // namespace

OrvaneSimulatorWidget::OrvaneSimulatorWidget(QWidget* parent)
    : OrvaneSimulatorWidget(WindowOptions{}, parent) {}

OrvaneSimulatorWidget::OrvaneSimulatorWidget(WindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      importer_(options_.plugin_search_path),
      worker_thread_(new QThread(this)),
      first_cycle_(options_.first_cycle_poll, options_.first_cycle_limit) {
  build_ui();
  experiment_ = new ExperimentControl(this, statusBar(), options_.exec_modal);
  if (options_.viewer_tsdb_settings) ua_widget->set_tsdb_settings(*options_.viewer_tsdb_settings);
  connect(&first_cycle_, &FirstCycleWatch::reached, this, &OrvaneSimulatorWidget::start_viewer);
  connect(&first_cycle_, &FirstCycleWatch::timed_out, this, &OrvaneSimulatorWidget::on_first_cycle_missed);
  connect(&first_cycle_, &FirstCycleWatch::waiting, this, &OrvaneSimulatorWidget::on_first_cycle_waiting);
}

OrvaneSimulatorWidget::~OrvaneSimulatorWidget() {
  first_cycle_.cancel();
  experiment_->stop();
  if (auto* thread = qobject_cast<WorkerThread*>(worker_thread_); thread && thread->isRunning()) {
    thread->task->stop();
    thread->wait();
  }
}

void OrvaneSimulatorWidget::build_ui() {
  setWindowTitle(QStringLiteral("Orvane Simulator"));
  setWindowIcon(application_icon());
  resize(600, 800);

  QMenu* file_menu = menuBar()->addMenu(QStringLiteral("File"));
  load_action = new QAction(QStringLiteral("Load process"), this);
  server_action = new QAction(QStringLiteral("Modify SimServer"), this);
  experiment_action = new QAction(QStringLiteral("Run experiment..."), this);
  experiment_action->setEnabled(false);
  auto* exit_action = new QAction(QStringLiteral("Exit"), this);
  file_menu->addAction(load_action);
  file_menu->addAction(server_action);
  file_menu->addAction(experiment_action);
  file_menu->addAction(exit_action);
  connect(load_action, &QAction::triggered, this, &OrvaneSimulatorWidget::show_dialog);
  connect(server_action, &QAction::triggered, this, &OrvaneSimulatorWidget::show_server_dialog);
  connect(experiment_action, &QAction::triggered, this, &OrvaneSimulatorWidget::run_experiment);
  connect(exit_action, &QAction::triggered, this, &QWidget::close);

  auto* groupBox_1 = new QGroupBox(QStringLiteral("Process INFO"), this);
  groupBox_1->setObjectName(QStringLiteral("groupBox_1"));
  lineEdit_moduleName = line_edit(groupBox_1, "lineEdit_moduleName", false);
  lineEdit_objectName = line_edit(groupBox_1, "lineEdit_objectName", false);
  lineEdit_groupName = line_edit(groupBox_1, "lineEdit_groupName", true);
  lineEdit_processDetail = line_edit(groupBox_1, "lineEdit_processDetail", false);
  lineEdit_moduleDir = line_edit(groupBox_1, "lineEdit_moduleDir", false);
  start_btn = new QPushButton(QStringLiteral("START"), groupBox_1);
  stop_btn = new QPushButton(QStringLiteral("STOP"), groupBox_1);
  start_btn->setObjectName(QStringLiteral("start_btn"));
  stop_btn->setObjectName(QStringLiteral("stop_btn"));
  start_btn->setEnabled(false);
  stop_btn->setEnabled(false);
  connect(start_btn, &QPushButton::clicked, this, &OrvaneSimulatorWidget::start_process_btn_clicked);
  connect(stop_btn, &QPushButton::clicked, this, &OrvaneSimulatorWidget::stop_process_btn_clicked);

  auto* layout_B1 = new QHBoxLayout;
  layout_B1->addWidget(new QLabel(QStringLiteral("Module Name"), groupBox_1));
  layout_B1->addWidget(lineEdit_moduleName);
  layout_B1->addWidget(new QLabel(QStringLiteral("Object Name"), groupBox_1));
  layout_B1->addWidget(lineEdit_objectName);
  layout_B1->addWidget(new QLabel(QStringLiteral("OPC Tag Group"), groupBox_1));
  layout_B1->addWidget(lineEdit_groupName);
  auto* form_layout = new QFormLayout;
  form_layout->addRow(QStringLiteral("Detail"), lineEdit_processDetail);
  form_layout->addRow(QStringLiteral("Directory"), lineEdit_moduleDir);
  auto* layout_B3 = new QHBoxLayout;
  layout_B3->addWidget(start_btn, 1);
  layout_B3->addWidget(stop_btn, 1);
  auto* layout_1 = new QVBoxLayout(groupBox_1);
  layout_1->addLayout(layout_B1);
  layout_1->addLayout(form_layout);
  layout_1->addLayout(layout_B3);

  auto* groupBox_3 = new QGroupBox(QStringLiteral("OPC UA Viewer"), this);
  groupBox_3->setObjectName(QStringLiteral("groupBox_3"));
  ua_widget = new quorra::UATableWindow;
  ua_widget->setObjectName(QStringLiteral("ua_widget"));
  auto* layout_3 = new QVBoxLayout(groupBox_3);
  layout_3->addWidget(ua_widget);

  auto* central = new QWidget(this);
  auto* central_layout = new QVBoxLayout(central);
  central_layout->addWidget(groupBox_1);
  central_layout->addWidget(groupBox_3);
  setCentralWidget(central);
  statusBar()->setObjectName(QStringLiteral("statusbar"));
}

void OrvaneSimulatorWidget::set_state(State state) {
  const bool idle = state == State::Empty || state == State::Selected;
  start_btn->setEnabled(state == State::Selected || state == State::Stopped);
  load_action->setEnabled(idle);
  server_action->setEnabled(idle);
  lineEdit_groupName->setEnabled(idle);
  stop_btn->setEnabled(state == State::Running);
  experiment_action->setEnabled(state == State::Running && ua_widget->worker() != nullptr);
}

OrvaneSimulatorWidget::State OrvaneSimulatorWidget::stopped_state() const {
  return ua_widget->worker() != nullptr ? State::Stopped : State::Selected;
}

void OrvaneSimulatorWidget::show_dialog() {
  SelectItemDialog dialog(this);
  if (options_.exec_modal(dialog) != QDialog::Accepted) return;
  const std::optional<ProcessEntry> item = dialog.get_selected_item();
  if (!item) {
    start_btn->setEnabled(false);
    return;
  }
  start_btn->setEnabled(true);
  lineEdit_groupName->setText(QString::fromStdString(item->default_group));
  // Texts longer than their field show their start, and the whole on hover.
  for (const auto& [edit, text] : {std::pair{lineEdit_moduleName, &item->module_name},
                                   std::pair{lineEdit_objectName, &item->object_name},
                                   std::pair{lineEdit_processDetail, &item->description},
                                   std::pair{lineEdit_moduleDir, &item->import_dir}}) {
    edit->setText(QString::fromStdString(*text));
    edit->setCursorPosition(0);
    edit->setToolTip(edit->text());
  }
}

void OrvaneSimulatorWidget::show_server_dialog() {
  ServerDialog dialog(this, options_.grpc_server_ip, options_.grpc_server_port);
  if (options_.exec_modal(dialog) != QDialog::Accepted) return;
  const auto [host, port_text] = dialog.get_values();
  const std::optional<int> port = parse_port_text(port_text);
  if (!port) {
    report(QStringLiteral("Invalid port"),
           QStringLiteral("The port \"%1\" is not a whole number; the gateway address stays %2:%3.")
               .arg(port_text, options_.grpc_server_ip)
               .arg(options_.grpc_server_port),
           false);
    return;
  }
  options_.grpc_server_ip = host;
  options_.grpc_server_port = *port;
}

void OrvaneSimulatorWidget::start_process_btn_clicked() {
  start_process();
}

void OrvaneSimulatorWidget::stop_process_btn_clicked() {
  close_process();
}

void OrvaneSimulatorWidget::start_process() {
  if (worker_thread_->isRunning()) return;
  const std::string directory = lineEdit_moduleDir->text().toStdString();
  const std::string module_name = lineEdit_moduleName->text().toStdString();
  const std::string object_name = lineEdit_objectName->text().toStdString();
  const std::string group = lineEdit_groupName->text().toStdString();

  const bool plant_file = plantfile::is_plant_file_name(module_name);
  std::shared_ptr<corvex::Task> task;
  try {
    const frame::ExportedObject object =
        plant_file ? frame::ExportedObject(plant_from_file(directory, module_name))
                   : importer_.dynamic_import_object(directory, module_name, object_name);
    task = task_for_object(object, {options_.grpc_server_ip.toStdString(), options_.grpc_server_port}, group);
  } catch (const std::exception& e) {
    // A plant file's fault is one line that already names the file.
    const QString why = QString::fromLocal8Bit(e.what());
    const QString text =
        plant_file ? why
                   : QStringLiteral("Object \"%1\" of module \"%2\": %3")
                         .arg(QString::fromStdString(object_name), QString::fromStdString(module_name), why);
    // The box goes away; the status line keeps the cause in view.
    statusBar()->showMessage(QStringLiteral("Not started: ") + text);
    report(QStringLiteral("Cannot start the process"), text, true);
    return;
  }

  auto* thread = new WorkerThread(this, task);
  connect(thread, &WorkerThread::task_failed, this, [this, thread](const QString& reason) {
    if (thread == worker_thread_) last_failure_ = reason;
  });
  connect(thread, &QThread::finished, this, [this, thread] {
    if (thread == worker_thread_) on_worker_finished();
  });
  // The previous thread has finished; only its task's resources remain.
  worker_thread_->deleteLater();
  worker_thread_ = thread;
  last_failure_.clear();
  stop_asked_ = false;
  thread->start();
  if (!thread->isRunning()) return;

  set_state(State::Running);
  if (ua_widget->worker() == nullptr) {
    statusBar()->showMessage(QStringLiteral("Waiting for the first cycle…"));
    first_cycle_.watch(task);
  }
}

void OrvaneSimulatorWidget::close_process() {
  auto* thread = qobject_cast<WorkerThread*>(worker_thread_);
  if (thread == nullptr || !thread->isRunning()) return;
  first_cycle_.cancel();
  experiment_->stop();
  stop_asked_ = true;
  thread->task->stop();
  thread->wait();
  set_state(stopped_state());
  statusBar()->showMessage(QStringLiteral("Stopped."));
}

QString OrvaneSimulatorWidget::viewer_endpoint() const {
  return QStringLiteral("opc.tcp://") + options_.opc_ua_server_ip + QLatin1Char(':') +
         QString::number(options_.opc_ua_server_port);
}

QString OrvaneSimulatorWidget::viewer_group() const {
  return without_trailing_space(lineEdit_groupName->text());
}

void OrvaneSimulatorWidget::start_viewer() {
  quorra::UATableWindow::ViewerSettings settings;
  settings.endpoint = viewer_endpoint();
  settings.name_space_index = 2;
  settings.identifier = viewer_group();
  statusBar()->showMessage(QStringLiteral("Running on group %1.").arg(settings.identifier));
  ua_widget->start_opcua(settings);
  experiment_action->setEnabled(worker_thread_->isRunning());
}

void OrvaneSimulatorWidget::run_experiment() {
  if (!worker_thread_->isRunning() || ua_widget->worker() == nullptr) return;
  experiment_->choose_and_run(viewer_endpoint().toStdString(), viewer_group().toStdString());
}

void OrvaneSimulatorWidget::on_first_cycle_waiting(qint64 elapsed_ms) {
  QString text = QStringLiteral("Waiting for the first cycle (%1 s)").arg(elapsed_ms / 1000);
  const corvex::Task::Waiting& cause = first_cycle_.current_cause();
  text +=
      cause.text.empty() ? QStringLiteral("…") : QStringLiteral(": ") + QString::fromStdString(cause.text);
  statusBar()->showMessage(text);
}

void OrvaneSimulatorWidget::on_first_cycle_missed() {
  using Cause = corvex::Task::Waiting::Cause;
  const corvex::Task::Waiting cause = first_cycle_.last_cause();
  close_process();
  QString text = QStringLiteral(
                     "The process completed no cycle within %1 s, so it was stopped and the viewer was not "
                     "started. ")
                     .arg(static_cast<double>(first_cycle_.limit().count()) / 1000.0);
  if (cause.cause != Cause::kNone)
    text += QStringLiteral("The last cause seen: %1. ").arg(QString::fromStdString(cause.text));
  text += cause.cause == Cause::kGroupHeld
              ? QStringLiteral("Stop the task that serves the group, or choose another OPC Tag Group.")
              : QStringLiteral("Check that the OPC gateway is running and its address (Modify SimServer).");
  statusBar()->showMessage(QStringLiteral("No first cycle."));
  report(QStringLiteral("No first cycle"), text, true);
}

void OrvaneSimulatorWidget::on_worker_finished() {
  if (stop_asked_) return;
  experiment_->stop();
  // Cycles that completed before the watch looked still earn the viewer.
  const auto* thread = qobject_cast<WorkerThread*>(worker_thread_);
  if (first_cycle_.active() && thread != nullptr && thread->task->get_done_count() > 0) start_viewer();
  first_cycle_.cancel();
  const bool viewer_started = ua_widget->worker() != nullptr;
  set_state(stopped_state());
  QString text = QStringLiteral("The process ended by itself");
  text += last_failure_.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + last_failure_;
  if (!viewer_started) text += QStringLiteral(" The viewer was not started.");
  report(QStringLiteral("Process ended"), text, !last_failure_.isEmpty());
}

void OrvaneSimulatorWidget::report(const QString& title, const QString& text, bool critical) {
  std::cout << title.toStdString() << ": " << text.toStdString() << std::endl;
  QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::Information, title, text, QMessageBox::Ok,
                  this);
  show_message(box);
}

int OrvaneSimulatorWidget::show_message(QMessageBox& box) {
  return options_.exec_modal(box);
}

void OrvaneSimulatorWidget::closeEvent(QCloseEvent* event) {
  if (!worker_thread_->isRunning()) {
    ua_widget->close();
    event->accept();
    return;
  }
  QMessageBox question(QMessageBox::Question, QStringLiteral("Message"),
                       QStringLiteral("Process is running. Are you sure you want to quit?"),
                       QMessageBox::Yes | QMessageBox::No, this);
  question.setDefaultButton(QMessageBox::No);
  if (show_message(question) == QMessageBox::Yes) {
    ua_widget->close();
    close_process();
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace varnok::velmora
