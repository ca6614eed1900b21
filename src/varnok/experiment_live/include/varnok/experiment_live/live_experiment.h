#pragma once

// An experiment run live: the file's writes made to a plant that is already
// serving its group on an OPC UA server, each before the task of its period,
// and the recorded tags read back once per period. The plant's RunCount is
// the clock; nothing here paces itself.
//
// The plant's gateway task, every period k: reads every tag (what clients
// wrote included), runs the task (RunCount becomes k), publishes what
// changed. A value written after RunCount = k is published, and before the
// plant's read of period k + 1, is seen by the task of period k + 1.
//
// The period loop:
// - Connect, browse ns=2;s=<group>. A group the server does not have, or
//   one without RunCount, is refused (SetupError), and so is a tag of the
//   file that the group lacks (ExperimentFileError, FILE:LINE:COLUMN).
//   RunCount, the recorded tags and every written tag form one subscribed
//   group, so that one Read gives a consistent snapshot of them all.
// - Read snapshots until RunCount changes: r0 = the new RunCount.
//   Experiment period p is the plant's period r0 + p, so period 1 is the
//   plant's next one, and its writes have the whole period to arrive.
// - Before period p: the schedule's writes for p (values in force from the
//   latest snapshot), together with late writes still owed (below), go out
//   in one Write, the last value per tag. Then a snapshot: when its
//   RunCount r >= r0 + k, the write meant for period k came too late, by
//   r - (r0 + k) + 1 periods; each such write is said on a line and counted.
// - Wait for RunCount to reach r0 + p: snapshots in a loop, sleeping a tenth
//   of the period measured from the RunCount changes seen so far (before
//   two changes, of the time RunCount has stood still), 1..50 ms.
//   A snapshot with r = r0 + q, q >= p, gives the row of period q. When
//   q > p the plant ran ahead: periods p..q-1 have no row (one line per gap,
//   counted), and the schedule is still asked for periods p+1..q in turn;
//   their writes are owed and go out, late, with those for q + 1. Then
//   p = q + 1, until the last period. A plant that runs past the last
//   period leaves the periods up to the last without rows, and the owed
//   writes go out at the end.
// - A RunCount that stays unchanged for ten periods or stall_floor
//   (whichever is longer) ends the run (kPlantStopped), as does a RunCount
//   that is not live any more. One that goes back (the plant was
//   restarted) ends it as kFailed, and so does a failed write. A failed
//   read is said once and retried until the plant counts as stopped.
// - Rows leave as they come, through LiveEvents::row; with database settings
//   each row is also recorded through the viewer's store-and-forward
//   recorder (node ids 2:<group>.<tag>, RunCount included), and a database
//   that is away costs lines but never stops the run.
//
// Whether a write was in time is decided from the RunCount read after the
// server confirmed the write. One window escapes that check: the plant has
// already read its inputs for the period but not yet published its new
// RunCount (the task's run and the publish call: well under a millisecond
// on a machine with time to spare). A write landing there is counted in
// time but is seen a period late.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "corvex/value.h"
#include "hublet/hublet.h"
#include "recorder.h"
#include "tsdbpy/conn.h"
#include "varnok/experiment/experiment_file.h"

namespace varnok::experiment_live {

// The recorded tags after the task of one experiment period, in the order
// the file records them; a tag the server gave no live number for is NaN.
struct Row {
  std::int64_t period = 0;
  std::vector<corvex::Value> values;

  bool operator==(const Row&) const = default;
};

struct LiveSettings {
  std::string endpoint;  // opc.tcp://host:port
  std::string group;     // the folder ns=2;s=<group>
  experiment::Experiment experiment;
  tsdbpy::conn::Settings database{};  // empty: nothing recorded, no database call made
  // The least time without a new RunCount after which the plant counts as
  // stopped; ten periods when they are longer.
  std::chrono::milliseconds stall_floor{30000};
  // Every OPC UA call; the read and write of a period are far shorter.
  std::chrono::milliseconds connect_timeout{3000};
  std::chrono::milliseconds request_timeout{2000};
  // What the recorder may still spend writing rows after the last period.
  std::chrono::milliseconds drain{1000};
};

// Every callback may be empty. progress (the last period the plant was seen
// to finish) and row come on run()'s thread; line comes on run()'s thread
// or the recorder's, never two at once.
struct LiveEvents {
  std::function<void(std::int64_t period, std::int64_t periods)> progress{};
  std::function<void(const std::string& line)> line{};
  std::function<void(Row row)> row{};
};

enum class LiveEnd {
  kDone,          // every period ran
  kStopped,       // stop() came first
  kPlantStopped,  // RunCount stood still, or is not live any more
  kFailed,        // a write failed, or the plant was restarted
};

struct LiveSummary {
  LiveEnd end = LiveEnd::kStopped;
  std::string reason;                                // why a run ended early (not for kDone, kStopped)
  std::int64_t periods = 0;                          // the experiment's
  std::int64_t last_period = 0;                      // the last period the plant was seen to finish
  std::int64_t rows = 0;                             // periods recorded
  std::int64_t writes = 0;                           // writes the schedule asked for
  std::int64_t late_writes = 0;                      // of them, seen by a later period than meant
  std::int64_t missed_periods = 0;                   // periods without a row
  std::optional<tessaly::RecorderCounts> recording;  // none without database settings

  // Every period ran, with a row, and every write in its period.
  bool all_in_time() const { return end == LiveEnd::kDone && late_writes == 0 && missed_periods == 0; }
};

class LiveExperiment final {
 public:
  LiveExperiment(LiveSettings settings, LiveEvents events);
  ~LiveExperiment();  // run() must have returned (or never run)
  LiveExperiment(const LiveExperiment&) = delete;
  LiveExperiment& operator=(const LiveExperiment&) = delete;

  // Runs the experiment on the caller's thread; call once. Throws before
  // any write: SetupError for a group that does not exist or has no
  // RunCount, ExperimentFileError for a tag of the file the group lacks,
  // RunError when the server cannot be reached or a first read fails. Once
  // writing has started it returns, with what became of the run.
  LiveSummary run();

  // From any thread, returning at once: run() returns within about 100 ms
  // whatever the server or the database does, keeping the rows so far and
  // restoring nothing.
  void stop() noexcept;

 private:
  class PeriodLoop;

  void say(const std::string& line);

  const LiveSettings settings_;
  const LiveEvents events_;
  hublet::HubletLibrary hublet_;
  std::unique_ptr<tessaly::Recorder> recorder_;  // none without database settings
  std::mutex say_mutex_;

  std::atomic<bool> stopping_{false};
  std::mutex sleep_mutex_;
  std::condition_variable sleep_wake_;
};

}  // namespace varnok::experiment_live
