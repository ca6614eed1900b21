#include "varnok/experiment_live/live_experiment.h"

#include <algorithm>

#include "period_clock.h"
#include "plant_group.h"
#include "status_text.h"
#include "tsdb_historian.h"
#include "tsdb_settings.h"
#include "varnok/csv_text.h"
#include "varnok/errors.h"
#include "varnok/experiment/schedule.h"
#include "varnok/experiment_live/run_text.h"

namespace varnok::experiment_live {

namespace {

using Clock = std::chrono::steady_clock;

// What a stopped run still grants the recorder.
constexpr std::chrono::milliseconds kStopDrain{100};

// A run that ends before its last period: thrown inside the loop, caught by run().
struct Ended {
  LiveEnd end;
  std::string reason;
};

// A write the schedule asked for, and the period it was meant for.
struct Owed {
  std::int64_t period;
  experiment::Write write;
};

hublet::Options client_options(const LiveSettings& settings) {
  hublet::Options options;
  options.connect_timeout = settings.connect_timeout;
  options.request_timeout = settings.request_timeout;
  return options;
}

std::string seconds_text(Clock::duration d) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  return csv::number(static_cast<double>(ms) / 1000.0) + " s";
}

}  // namespace

// One run's state, from the first snapshot to the last period.
class LiveExperiment::PeriodLoop {
 public:
  PeriodLoop(LiveExperiment& owner, PlantGroup& group, LiveSummary& summary)
      : owner_(owner),
        group_(group),
        summary_(summary),
        named_("group \"" + group.group() + "\""),
        schedule_(owner.settings_.experiment),
        clock_(owner.settings_.stall_floor) {
    for (const auto& tag : owner.settings_.experiment.record)
      record_index_.push_back(group.index_of(tag.name));
    // The database gets RunCount beside the recorded tags, each once.
    const std::vector<std::string> all_ids = group.node_ids();
    std::vector<std::string> ids;
    for (const std::size_t index : record_index_) {
      if (index != 0) db_index_.push_back(index);
    }
    db_index_.insert(db_index_.begin(), 0);
    for (const std::size_t index : db_index_) ids.push_back(all_ids[index]);
    if (owner.recorder_)
      owner.recorder_->start(ids, tessaly::queue_capacity(std::chrono::seconds(1), ids.size()));
  }

  // Throws RunError when the first snapshot cannot be had, Ended when the
  // run ends early.
  void run() {
    read_first();
    const std::int64_t periods = summary_.periods;
    for (std::int64_t p = 1; p <= periods;) {
      owe(p);
      if (!owed_.empty()) write_owed();
      wait_for(r0_ + p);
      const std::int64_t q = snapshot_.run_count - r0_;
      const std::int64_t last = std::min(q, periods);
      if (q > p) ran_ahead(p, q <= periods ? q - 1 : periods);
      if (q <= periods) record(q);
      summary_.last_period = last;
      if (owner_.events_.progress) owner_.events_.progress(last, periods);
      for (std::int64_t k = p + 1; k <= last; ++k) owe(k);
      p = q + 1;
    }
    if (!owed_.empty()) write_owed();
    summary_.end = LiveEnd::kDone;
  }

 private:
  [[noreturn]] void end(LiveEnd how, const std::string& reason) {
    if (how != LiveEnd::kStopped) owner_.say(reason);
    throw Ended{how, reason};
  }

  void end_if_stopping(int status) {
    if (owner_.stopping_.load() || status == hublet::HUBLET_STATUS_CANCELLED) end(LiveEnd::kStopped, {});
  }

  void read_first() {
    const int status = group_.read(snapshot_);
    end_if_stopping(status);
    if (status < 0)
      throw RunError("cannot read " + named_ + " on " + owner_.settings_.endpoint + ": " +
                     tessaly::poll_failure_reason(status));
    if (!snapshot_.live) {
      throw RunError(named_ + " on " + owner_.settings_.endpoint +
                     " is not served by a plant now: RunCount is " + snapshot_.run_count_status);
    }
    clock_.seen(snapshot_.run_count, Clock::now());
    // Started just as RunCount changes, the first writes have a whole
    // period; at any other moment the plant may have read its inputs already.
    wait_for(snapshot_.run_count + 1);
    r0_ = snapshot_.run_count;
  }

  // The schedule's writes for `period`, owed until the next write call.
  void owe(std::int64_t period) {
    for (auto& write :
         schedule_.writes_before(period, [this](std::string_view tag) { return in_force(tag); })) {
      owed_.push_back({period, std::move(write)});
      ++summary_.writes;
    }
  }

  // A write owed and not yet made is in force for the schedule already.
  double in_force(std::string_view tag) const {
    for (auto owed = owed_.rbegin(); owed != owed_.rend(); ++owed) {
      if (owed->write.tag == tag) return owed->write.value;
    }
    return snapshot_.values[group_.index_of(tag)].to_double();
  }

  // One Write with the last value per tag; then the RunCount that says
  // which of them came too late.
  void write_owed() {
    std::vector<std::size_t> indices;
    std::vector<double> values;
    for (const auto& owed : owed_) {
      const std::size_t index = group_.index_of(owed.write.tag);
      const auto at = std::find(indices.begin(), indices.end(), index);
      if (at != indices.end()) {
        values[static_cast<std::size_t>(at - indices.begin())] = owed.write.value;
      } else {
        indices.push_back(index);
        values.push_back(owed.write.value);
      }
    }
    const int status = group_.write(indices, values);
    end_if_stopping(status);
    if (status < 0) {
      const std::string why = tessaly::write_failure_reason(status);
      for (const auto& owed : owed_)
        owner_.say(failed_write_line(owed.write.tag, owed.write.value, owed.period, why));
      end(LiveEnd::kFailed, "writing to " + named_ + " failed: " + why);
    }
    while (!next_snapshot()) sleep(clock_.poll_interval(Clock::now()));
    for (const auto& owed : owed_) {
      const std::int64_t late_by = snapshot_.run_count - (r0_ + owed.period) + 1;
      if (late_by <= 0) continue;
      owner_.say(late_write_line(owed.write.tag, owed.write.value, owed.period, late_by));
      ++summary_.late_writes;
    }
    owed_.clear();
  }

  void wait_for(std::int64_t run_count) {
    while (snapshot_.run_count < run_count) {
      sleep(clock_.poll_interval(Clock::now()));
      next_snapshot();
    }
  }

  // False when the read failed (said once per outage); ends the run when
  // the plant is gone, restarted or stands still.
  bool next_snapshot() {
    Snapshot fresh;
    const int status = group_.read(fresh);
    end_if_stopping(status);
    if (status < 0) {
      if (!read_failing_) {
        owner_.say("reading " + named_ + " failed: " + tessaly::poll_failure_reason(status) +
                   "; trying again");
      }
      read_failing_ = true;
      end_if_stalled();
      return false;
    }
    if (read_failing_) owner_.say("reading " + named_ + " works again");
    read_failing_ = false;
    if (!fresh.live) {
      end(LiveEnd::kPlantStopped,
          "the plant of " + named_ + " is gone: RunCount is " + fresh.run_count_status);
    }
    if (fresh.run_count < snapshot_.run_count) {
      end(LiveEnd::kFailed, "RunCount of " + named_ + " went back from " +
                                std::to_string(snapshot_.run_count) + " to " +
                                std::to_string(fresh.run_count) + ": the plant was restarted");
    }
    snapshot_ = std::move(fresh);
    clock_.seen(snapshot_.run_count, Clock::now());
    end_if_stalled();
    return true;
  }

  void end_if_stalled() {
    if (!clock_.stalled(Clock::now())) return;
    end(LiveEnd::kPlantStopped, "RunCount of " + named_ + " stayed at " +
                                    std::to_string(snapshot_.run_count) + " for " +
                                    seconds_text(clock_.stall_limit()) + ": the plant has stopped");
  }

  void sleep(Clock::duration how_long) {
    std::unique_lock lock(owner_.sleep_mutex_);
    owner_.sleep_wake_.wait_for(lock, how_long, [this] { return owner_.stopping_.load(); });
    if (owner_.stopping_.load()) end(LiveEnd::kStopped, {});
  }

  void ran_ahead(std::int64_t first, std::int64_t last) {
    owner_.say(gap_line(first, last));
    summary_.missed_periods += last - first + 1;
  }

  void record(std::int64_t period) {
    Row row{period, {}};
    for (const std::size_t index : record_index_) row.values.push_back(snapshot_.values[index]);
    ++summary_.rows;
    if (owner_.events_.row) owner_.events_.row(std::move(row));
    if (!owner_.recorder_) return;
    tessaly::Poll poll{.read_at = snapshot_.read_at, .nodes = {}, .values = {}};
    for (std::size_t i = 0; i < db_index_.size(); ++i) {
      if (!snapshot_.good[db_index_[i]]) continue;
      poll.nodes.push_back(static_cast<std::uint32_t>(i));
      poll.values.push_back(snapshot_.values[db_index_[i]].to_double());
    }
    owner_.recorder_->record(std::move(poll));
  }

  LiveExperiment& owner_;
  PlantGroup& group_;
  LiveSummary& summary_;
  const std::string named_;
  experiment::Schedule schedule_;
  PeriodClock clock_;
  Snapshot snapshot_;
  std::int64_t r0_ = 0;
  std::vector<Owed> owed_;
  std::vector<std::size_t> record_index_;  // the recorded tags' places in a snapshot
  std::vector<std::size_t> db_index_;      // RunCount's and theirs, for the database
  bool read_failing_ = false;
};

LiveExperiment::LiveExperiment(LiveSettings settings, LiveEvents events)
    : settings_(std::move(settings)), events_(std::move(events)), hublet_(client_options(settings_)) {
  hublet_.set_log_level(hublet::HUBLET_LOG_LEVEL_ERROR);  // every failure is said in our own words
  if (!settings_.database.empty()) {
    recorder_ = std::make_unique<tessaly::Recorder>(
        std::make_unique<tessaly::TsdbHistorian>(tessaly::recorder_tsdb_settings(settings_.database),
                                                 settings_.endpoint),
        std::chrono::milliseconds(5000), [this](const std::string& line) { say(line); });
  }
}

LiveExperiment::~LiveExperiment() = default;

void LiveExperiment::say(const std::string& line) {
  std::lock_guard lock(say_mutex_);
  if (events_.line) events_.line(line);
}

LiveSummary LiveExperiment::run() {
  LiveSummary summary;
  summary.periods = settings_.experiment.periods;
  PlantGroup group(hublet_, stopping_, settings_.endpoint, settings_.group);
  const auto finish = [&] {
    group.close();
    hublet_.destroy();
    if (recorder_) {
      recorder_->request_stop(Clock::now() + settings_.drain);  // no-op after stop()
      recorder_->finish();
      summary.recording = recorder_->counts();
    }
  };
  try {
    if (group.open(std::chrono::milliseconds(1000))) {
      experiment::check_tags(
          settings_.experiment, [&](std::string_view tag) { return group.has_tag(tag); },
          "group \"" + settings_.group + "\"");
      std::vector<std::string> tags;
      for (const auto& tag : settings_.experiment.record) tags.push_back(tag.name);
      for (const auto& action : settings_.experiment.actions) {
        for (const auto& tag : action.tags()) tags.push_back(tag.name);
      }
      if (group.subscribe(tags)) PeriodLoop(*this, group, summary).run();
    }
  } catch (const Ended& ended) {
    summary.end = ended.end;
    summary.reason = ended.reason;
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return summary;
}

void LiveExperiment::stop() noexcept {
  stopping_.store(true);
  {
    std::lock_guard lock(sleep_mutex_);
    sleep_wake_.notify_all();
  }
  hublet_.interrupt();
  if (recorder_) recorder_->request_stop(Clock::now() + kStopDrain);
}

}  // namespace varnok::experiment_live
