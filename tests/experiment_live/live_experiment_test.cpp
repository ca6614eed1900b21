// Live experiments against the real opcsim, with the plant's gateway task
// run in this process at a high speed and a throw-away PostgreSQL for the
// recorder.

#include "varnok/experiment_live/live_experiment.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "eventually.h"
#include "gateway_client.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "varnok/experiment/schedule.h"

namespace varnok::experiment_live {
namespace {

using namespace std::chrono_literals;
using varnok::testing::eventually;

struct Servers {
  varnok::testing::OpcsimProcess opcsim;
  tsdbpy_testing::PgCluster db;

  std::string endpoint() const { return "opc.tcp://127.0.0.1:" + std::to_string(opcsim.opcua_port()); }
};

Servers& servers() {
  static Servers instance;
  return instance;
}

// Echoes Input into Echo in the same period, so a row shows which value the
// period's task saw.
class EchoSim final : public corvex::Simulink {
 public:
  EchoSim() : Simulink({{"Input", 1.5}, {"Echo", 0.0}, {"Spare", 0.0}, {"RunCount", 0}}) {}
  void task() override {
    get_data().set("Echo", get_data().at("Input").to_double());
    get_data().set("RunCount", get_task_count());
  }
};

// The plant serving `group` at `speed` periods per second, on a thread.
class Plant {
 public:
  Plant(const std::string& group, double speed)
      : task_("127.0.0.1", servers().opcsim.gateway_port(), std::make_shared<EchoSim>(), group,
              {.speed = speed}),
        thread_([this] { task_.run(); }) {
    EXPECT_TRUE(eventually([&] { return task_.get_done_count() > 0; }));
  }
  ~Plant() {
    task_.stop();
    thread_.join();
  }

 private:
  corvex::SimulinkOPCGateTask task_;
  std::thread thread_;
};

// What a run said, kept for the test's thread.
struct Seen {
  std::mutex mutex;
  std::vector<Row> rows;
  std::vector<std::string> lines;

  LiveEvents events() {
    return {.progress = {},
            .line =
                [this](const std::string& line) {
                  std::lock_guard lock(mutex);
                  lines.push_back(line);
                },
            .row =
                [this](Row row) {
                  std::lock_guard lock(mutex);
                  rows.push_back(std::move(row));
                }};
  }
  std::size_t row_count() {
    std::lock_guard lock(mutex);
    return rows.size();
  }
  long lines_with(const std::string& part) {
    std::lock_guard lock(mutex);
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

LiveSettings settings_for(const std::string& group, const std::string& experiment_text) {
  LiveSettings s;
  s.endpoint = servers().endpoint();
  s.group = group;
  s.experiment = experiment::parse_experiment(experiment_text, "test.yaml");
  return s;
}

std::int64_t tsdata_rows(const std::string& node_id) {
  PGconn* pg = servers().db.raw_connect();
  const char* params[] = {node_id.c_str()};
  PGresult* res = PQexecParams(pg, "SELECT count(*) FROM tsdata JOIN tags USING (tag_id) WHERE tag_name = $1",
                               1, nullptr, params, nullptr, nullptr, 0);
  std::int64_t n = -1;
  if (PQresultStatus(res) == PGRES_TUPLES_OK) n = std::stoll(PQgetvalue(res, 0, 0));
  PQclear(res);
  PQfinish(pg);
  return n;
}

const char* const kEveryAction = R"(periods: 30
record: [Echo, RunCount]
actions:
  - {at: 3, set: {Input: 4}}
  - {at: 6, step: {Input: -1.25}}
  - {at: 10, ramp: {tag: Input, to: 0, periods: 5}}
  - {at: 18, prbs: {tag: Input, amplitude: 2, min_hold: 2, periods: 8, seed: 3}}
)";

TEST(LiveExperiment, EveryWriteReachesTheTaskOfItsPeriodAndEveryPeriodHasItsRowAlsoInTheDatabase) {
  Plant plant("E1", 10.0);
  LiveSettings settings = settings_for("E1", kEveryAction);
  settings.database = servers().db.settings();
  // The value each period's task sees when every write is in time: the
  // schedule run against a plant that holds what was written.
  std::vector<double> expected{0.0};
  std::int64_t writes = 0;
  experiment::Schedule schedule(settings.experiment);
  double input = 1.5;
  for (std::int64_t p = 1; p <= settings.experiment.periods; ++p) {
    for (const auto& write : schedule.writes_before(p, [&](std::string_view) { return input; })) {
      input = write.value;
      ++writes;
    }
    expected.push_back(input);
  }
  settings.drain = 20s;  // ends as soon as the last row is in

  Seen seen;
  LiveExperiment run(std::move(settings), seen.events());
  const LiveSummary summary = run.run();

  EXPECT_TRUE(summary.all_in_time()) << ::testing::PrintToString(seen.lines);
  EXPECT_EQ(summary.rows, 30);
  EXPECT_EQ(summary.writes, writes);
  ASSERT_EQ(seen.rows.size(), 30u);
  const double r0 = seen.rows[0].values[1].to_double() - 1;
  for (const Row& row : seen.rows) {
    SCOPED_TRACE(row.period);
    EXPECT_EQ(row.values[0].to_double(), expected[static_cast<std::size_t>(row.period)]);
    EXPECT_EQ(row.values[1].to_double(), r0 + static_cast<double>(row.period));
  }
  ASSERT_TRUE(summary.recording.has_value());
  EXPECT_EQ(summary.recording->recorded, 30u);
  EXPECT_EQ(tsdata_rows("2:E1.Echo"), 30);
  EXPECT_EQ(tsdata_rows("2:E1.RunCount"), 30);
  EXPECT_EQ(tsdata_rows("2:E1.Input"), 0) << "only the recorded tags and RunCount";
}

// Faster than the client can follow: rows and misses must still add up,
// each row labelled with the period whose RunCount it carries.
TEST(LiveExperiment, AheadOfTheClientEveryRowKeepsItsPeriodAndEveryMissIsSaidAndCounted) {
  Plant plant("E2", 1000.0);
  Seen seen;
  LiveExperiment run(settings_for("E2", R"(periods: 300
record: [RunCount, Echo]
actions:
  - {at: 2, ramp: {tag: Input, to: 100, periods: 290}}
)"),
                     seen.events());
  const LiveSummary summary = run.run();

  EXPECT_EQ(summary.end, LiveEnd::kDone);
  EXPECT_EQ(summary.rows + summary.missed_periods, 300);
  EXPECT_EQ(static_cast<std::int64_t>(seen.rows.size()), summary.rows);
  EXPECT_EQ(seen.lines_with(" was late by "), summary.late_writes);
  EXPECT_EQ(summary.writes, 290);
  ASSERT_FALSE(seen.rows.empty());
  const double offset = seen.rows[0].values[0].to_double() - static_cast<double>(seen.rows[0].period);
  for (std::size_t i = 1; i < seen.rows.size(); ++i) {
    EXPECT_LT(seen.rows[i - 1].period, seen.rows[i].period);
    EXPECT_EQ(seen.rows[i].values[0].to_double() - static_cast<double>(seen.rows[i].period), offset);
  }
  std::int64_t said_missing = 0;
  for (const auto& line : seen.lines) {
    if (line.find(" not recorded: the plant ran ahead") == std::string::npos) continue;
    const auto dots = line.find("..");
    said_missing += dots == std::string::npos
                        ? 1
                        : std::stoll(line.substr(dots + 2)) - std::stoll(line.substr(line.find(' ') + 1)) + 1;
  }
  EXPECT_EQ(said_missing, summary.missed_periods);
}

TEST(LiveExperiment, StopEndsTheRunAtOnceWhileTheServerHangsKeepingTheRowsSoFar) {
  Plant plant("E3", 20.0);
  LiveSettings settings = settings_for("E3", "periods: 100000\nrecord: [Echo]\n");
  settings.request_timeout = 30s;  // the stop must not wait for it
  Seen seen;
  LiveExperiment run(std::move(settings), seen.events());
  auto summary = std::async(std::launch::async, [&] { return run.run(); });
  ASSERT_TRUE(eventually([&] { return seen.row_count() >= 3; }));
  servers().opcsim.pause();
  std::this_thread::sleep_for(100ms);  // a read is under way by now
  run.stop();
  const bool ended = summary.wait_for(5s) == std::future_status::ready;
  servers().opcsim.resume();
  ASSERT_TRUE(ended);
  const LiveSummary result = summary.get();
  EXPECT_EQ(result.end, LiveEnd::kStopped);
  EXPECT_EQ(result.rows, static_cast<std::int64_t>(seen.row_count()));
  EXPECT_EQ(result.last_period, seen.rows.back().period);
  EXPECT_EQ(seen.lines, std::vector<std::string>{}) << "a stop is no failure";
}

TEST(LiveExperiment, AGroupOrTagTheServerDoesNotHaveIsRefusedBeforeAnyWrite) {
  corvex::GatewayClient gateway("127.0.0.1", servers().opcsim.gateway_port(), 5000ms);
  gateway.register_group("NoCount", {{"MV1", 1.0}}, 60min, "live-test");
  gateway.register_group("E4", {{"MV1", 1.0}, {"RunCount", 0.0}}, 60min, "live-test");
  const std::string record_mv1 = "periods: 5\nrecord: [MV1]\n";
  const struct {
    std::string group, experiment, error;
  } cases[] = {
      {"Nope", record_mv1, "group \"Nope\" does not exist on " + servers().endpoint()},
      {"NoCount", record_mv1, "group \"NoCount\" on " + servers().endpoint() + " has no RunCount"},
      {"E4", "periods: 5\nrecord: [MV1]\nactions:\n  - {at: 2, set: {MV1: 3, MV9: 4}}\n",
       "test.yaml:4:27: tag \"MV9\" is not a tag of group \"E4\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.group);
    Seen seen;
    LiveExperiment run(settings_for(c.group, c.experiment), seen.events());
    try {
      run.run();
      ADD_FAILURE() << "not refused";
    } catch (const SetupError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error) << e.what();
    }
  }
}

TEST(LiveExperiment, APlantWhoseRunCountStandsStillEndsTheRun) {
  corvex::GatewayClient gateway("127.0.0.1", servers().opcsim.gateway_port(), 5000ms);
  gateway.register_group("E5", {{"MV1", 1.0}, {"RunCount", 7.0}}, 60min, "live-test");
  LiveSettings settings = settings_for("E5", "periods: 5\nrecord: [MV1]\n");
  settings.stall_floor = 300ms;
  Seen seen;
  LiveExperiment run(std::move(settings), seen.events());
  const LiveSummary summary = run.run();
  EXPECT_EQ(summary.end, LiveEnd::kPlantStopped);
  EXPECT_EQ(summary.reason, "RunCount of group \"E5\" stayed at 7 for 0.3 s: the plant has stopped");
  EXPECT_EQ(summary.rows, 0);
  EXPECT_EQ(seen.lines, std::vector<std::string>{summary.reason});
}

}  // namespace
}  // namespace varnok::experiment_live
