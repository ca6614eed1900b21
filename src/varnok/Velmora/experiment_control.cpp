#include "experiment_control.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "varnok/experiment_live/results_plot_input.h"
#include "varnok/experiment_live/run_text.h"
#include "varnok/plot/results_plot.h"

namespace varnok::velmora {

namespace {

QString text_of(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

}  // namespace

std::filesystem::path results_stem(const std::filesystem::path& experiment_file, const std::string& group,
                                   const QDateTime& started) {
  const std::string when = started.toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
  return experiment_file.parent_path() / (experiment_file.stem().string() + "-" + group + "-" + when);
}

ExperimentControl::ExperimentControl(QWidget* window, QStatusBar* status, ModalExec exec_modal)
    : QObject(window), window_(window), status_(status), exec_modal_(std::move(exec_modal)) {}

ExperimentControl::~ExperimentControl() {
  // The thread would otherwise be deleted by the window, after this.
  delete thread_;
}

void ExperimentControl::choose_and_run(const std::string& endpoint, const std::string& group) {
  if (running()) {
    status_->showMessage(QStringLiteral("Experiment %1 is still running: one at a time.").arg(name_));
    return;
  }
  QFileDialog dialog(window_, QStringLiteral("Run experiment"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QStringLiteral("Experiment files (*.yaml *.yml)"));
  // The same dialog everywhere, so that tests can answer it.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (exec_modal_(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  run_file(dialog.selectedFiles().front().toStdString(), endpoint, group);
}

void ExperimentControl::run_file(const std::filesystem::path& file, const std::string& endpoint,
                                 const std::string& group) {
  if (running()) {
    status_->showMessage(QStringLiteral("Experiment %1 is still running: one at a time.").arg(name_));
    return;
  }
  experiment_live::LiveSettings settings;
  try {
    settings.experiment = experiment::read_experiment_file(file);
  } catch (const std::exception& e) {
    refuse(QStringLiteral("Cannot run the experiment"), QString::fromStdString(e.what()));
    return;
  }
  const std::filesystem::path stem = results_stem(file, group, QDateTime::currentDateTime());
  csv_path_ = stem.string() + ".csv";
  png_path_ = stem.string() + ".png";
  auto csv = std::make_unique<std::ofstream>(csv_path_);
  if (!*csv) {
    status_->showMessage(QStringLiteral("Experiment not started: cannot write the results in %1 (%2).")
                             .arg(text_of(stem.parent_path()), QString::fromLocal8Bit(std::strerror(errno))));
    return;
  }
  settings.endpoint = endpoint;
  settings.group = group;
  // The viewer records the group already; rows recorded again would only
  // double its history.
  settings.database = {};
  experiment_ = settings.experiment;
  name_ = QString::fromStdString(file.filename().string());
  last_line_.clear();
  outcome_.reset();

  try {
    thread_ = new ExperimentThread(this, std::move(settings), std::move(csv));
  } catch (const std::exception& e) {  // the CSV's header could not be written
    status_->showMessage(QStringLiteral("Experiment not started: %1: %2")
                             .arg(text_of(csv_path_), QString::fromStdString(e.what())));
    return;
  }
  connect(thread_, &ExperimentThread::progress, this, &ExperimentControl::show_progress);
  connect(thread_, &ExperimentThread::line, this, [this](const QString& text) {
    last_line_ = text;
    status_->showMessage(QStringLiteral("Experiment %1: %2").arg(name_, text));
  });
  connect(thread_, &ExperimentThread::ended, this,
          [this](const ExperimentOutcome& outcome) { outcome_ = outcome; });
  // Handled once the thread has ended, so that nothing here waits for it.
  connect(thread_, &QThread::finished, this, &ExperimentControl::complete);
  thread_->start();
  status_->showMessage(
      QStringLiteral("Experiment %1: starting on group %2").arg(name_, QString::fromStdString(group)));
}

void ExperimentControl::stop() {
  if (thread_ != nullptr) thread_->stop();
}

void ExperimentControl::show_progress(qint64 period, qint64 periods) {
  QString text = QStringLiteral("Experiment %1: period %2 of %3").arg(name_).arg(period).arg(periods);
  if (!last_line_.isEmpty()) text += QStringLiteral("; ") + last_line_;
  status_->showMessage(text);
}

void ExperimentControl::complete() {
  thread_->wait();  // run() has returned: at once
  thread_->deleteLater();
  thread_ = nullptr;
  const ExperimentOutcome outcome = outcome_.value_or(ExperimentOutcome{});
  if (!outcome.failure.isEmpty() && outcome.rows.empty()) {
    std::error_code ignored;
    std::filesystem::remove(csv_path_, ignored);
    refuse(
        outcome.bad_file ? QStringLiteral("Cannot run the experiment") : QStringLiteral("Experiment failed"),
        outcome.failure);
    emit finished();
    return;
  }
  QString where = QStringLiteral("results in %1 and %2").arg(text_of(csv_path_), text_of(png_path_));
  try {
    plot::write_png(experiment_live::results_plot_input(*experiment_, outcome.rows), png_path_);
  } catch (const std::exception& e) {
    where = QStringLiteral("results in %1; the plot could not be drawn: %2")
                .arg(text_of(csv_path_), QString::fromStdString(e.what()));
  }
  const experiment_live::LiveSummary& summary = outcome.summary;
  const QString counts = QString::fromStdString(experiment_live::summary_text(summary));
  QString text;
  if (!outcome.failure.isEmpty()) {
    text = QStringLiteral("Experiment failed: %1; %2").arg(outcome.failure, where);
  } else if (summary.all_in_time()) {
    text = QStringLiteral("Experiment done: %1").arg(where);
  } else if (summary.end == experiment_live::LiveEnd::kDone) {
    text = QStringLiteral("Experiment done (%1): %2").arg(counts, where);
  } else if (summary.end == experiment_live::LiveEnd::kStopped) {
    text = QStringLiteral("Experiment stopped (%1): %2").arg(counts, where);
  } else {
    text = QStringLiteral("Experiment ended early: %1 (%2): %3")
               .arg(QString::fromStdString(summary.reason), counts, where);
  }
  std::cout << text.toStdString() << std::endl;
  status_->showMessage(text);
  emit finished();
}

void ExperimentControl::refuse(const QString& title, const QString& text) {
  status_->showMessage(QStringLiteral("Experiment not started: ") + text);
  std::cout << title.toStdString() << ": " << text.toStdString() << std::endl;
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, window_);
  exec_modal_(box);
}

}  // namespace varnok::velmora
