#pragma once

#include <QString>
#include <QThread>
#include <memory>
#include <ostream>
#include <vector>

#include "varnok/experiment_live/live_experiment.h"
#include "varnok/experiment_live/results_csv.h"

namespace varnok::velmora {

// What a live experiment's thread hands back when it ends.
struct ExperimentOutcome {
  experiment_live::LiveSummary summary;
  std::vector<experiment_live::Row> rows;  // every row, as written to the CSV
  // Why the run did not start, or stopped writing its CSV; empty otherwise.
  QString failure;
  // The failure is a line of the experiment file (FILE:LINE:COLUMN: ...),
  // such as a tag the group does not have.
  bool bad_file = false;
};

// Runs one LiveExperiment on its own thread, writing each row to the CSV as
// it comes. Everything leaves by value through queued signals: progress and
// line while it runs, ended once at the end (before finished()).
//
// stop() returns at once (a flag and an interrupt of the client's calls);
// the run then ends within about 100 ms whatever the server does, so the
// owner's wait() after it is short. The thread is never terminated.
class ExperimentThread final : public QThread {
  Q_OBJECT

 public:
  // `csv` receives the header now and the rows on the thread.
  ExperimentThread(QObject* parent, experiment_live::LiveSettings settings,
                   std::unique_ptr<std::ostream> csv);
  ~ExperimentThread() override;  // stop() and wait()

  void stop();

 signals:
  void progress(qint64 period, qint64 periods);
  void line(const QString& text);
  void ended(const varnok::velmora::ExperimentOutcome& outcome);

 protected:
  void run() override;

 private:
  std::unique_ptr<std::ostream> csv_stream_;
  experiment_live::ResultsCsv csv_;
  std::vector<experiment_live::Row> rows_;  // the thread's own until ended
  experiment_live::LiveExperiment experiment_;
};

}  // namespace varnok::velmora

Q_DECLARE_METATYPE(varnok::velmora::ExperimentOutcome)
