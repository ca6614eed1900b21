#include "experiment_thread.h"

#include "varnok/experiment/experiment_file.h"

namespace varnok::velmora {

ExperimentThread::ExperimentThread(QObject* parent, experiment_live::LiveSettings settings,
                                   std::unique_ptr<std::ostream> csv)
    : QThread(parent),
      csv_stream_(std::move(csv)),
      csv_(*csv_stream_, experiment_live::recorded_tags(settings.experiment)),
      experiment_(
          std::move(settings),
          {.progress = [this](std::int64_t period, std::int64_t periods) { emit progress(period, periods); },
           .line = [this](const std::string& text) { emit line(QString::fromStdString(text)); },
           .row =
               [this](experiment_live::Row row) {
                 csv_.write(row);
                 rows_.push_back(std::move(row));
               }}) {
  qRegisterMetaType<ExperimentOutcome>();
}

ExperimentThread::~ExperimentThread() {
  stop();
  wait();
}

void ExperimentThread::stop() {
  experiment_.stop();
}

void ExperimentThread::run() {
  ExperimentOutcome outcome;
  try {
    outcome.summary = experiment_.run();
  } catch (const experiment::ExperimentFileError& e) {
    outcome.failure = QString::fromStdString(e.what());
    outcome.bad_file = true;
  } catch (const std::exception& e) {
    outcome.failure = QString::fromStdString(e.what());
  }
  outcome.rows = std::move(rows_);
  emit ended(outcome);
}

}  // namespace varnok::velmora
