#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>

#include "experiment_thread.h"
#include "modal.h"
#include "varnok/experiment/experiment_file.h"

class QStatusBar;
class QWidget;

namespace varnok::velmora {

// Where a run's results go: beside the experiment file, as
// <stem>-<group>-<yyyyMMdd-HHmmss> with .csv and .png after it.
std::filesystem::path results_stem(const std::filesystem::path& experiment_file, const std::string& group,
                                   const QDateTime& started);

// File > Run experiment of the launcher's window: asks for an experiment
// file, runs it live on the window's group (ExperimentThread) and keeps the
// status line up to date: "Experiment step.yaml: period 120 of 600", the
// run's last line beside it, and at the end where the results are. The
// plot is drawn here, on the GUI thread, once the run has ended. One
// experiment at a time; nothing here waits on the network.
class ExperimentControl final : public QObject {
  Q_OBJECT

 public:
  ExperimentControl(QWidget* window, QStatusBar* status, ModalExec exec_modal);
  ~ExperimentControl() override;  // stops a run and waits for its thread (briefly)

  // Asks for a file, then run_file().
  void choose_and_run(const std::string& endpoint, const std::string& group);
  // Reads the file and starts the run; a bad file, a run already going or
  // a folder that cannot be written is said and starts nothing.
  void run_file(const std::filesystem::path& file, const std::string& endpoint, const std::string& group);

  bool running() const { return thread_ != nullptr; }
  // Returns at once; the results so far are written when the thread ends.
  void stop();

 signals:
  // The run has ended and its results are written (or could not be).
  void finished();

 private:
  void show_progress(qint64 period, qint64 periods);
  void complete();
  void refuse(const QString& title, const QString& text);

  QWidget* window_;
  QStatusBar* status_;
  ModalExec exec_modal_;

  // The run under way, if any.
  ExperimentThread* thread_ = nullptr;
  std::optional<experiment::Experiment> experiment_;
  QString name_;  // the file's name, for the status line
  std::filesystem::path csv_path_, png_path_;
  QString last_line_;
  std::optional<ExperimentOutcome> outcome_;
};

}  // namespace varnok::velmora
