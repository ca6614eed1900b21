// Recording into a throw-away PostgreSQL: the source and tags the database
// historian registers, the polls it stores, and the recorder riding out a
// database restart.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "eventually.h"
#include "pg_cluster.h"
#include "recorder.h"
#include "tsdb_historian.h"
#include "tsdb_settings.h"
#include "tsdbpy/source.h"
#include "tsdbpy/tsdata.h"
#include "viewer_session.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using tsdbpy_testing::PgCluster;
using varnok::testing::eventually;

// One throw-away cluster for the whole program; each test starts from empty
// tables.
PgCluster& cluster() {
  static PgCluster instance;
  return instance;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = tsdbpy::conn::get_conn(cluster().settings());
    exec("TRUNCATE tsdata, tags, sources RESTART IDENTITY CASCADE");
  }

  void exec(const std::string& sql) {
    PGresult* result = PQexec(conn_.native_handle(), sql.c_str());
    PQclear(result);
  }
  long count(const std::string& sql) {
    PGresult* result = PQexec(conn_.native_handle(), sql.c_str());
    const long n = PQntuples(result) == 1 ? std::stol(PQgetvalue(result, 0, 0)) : -1;
    PQclear(result);
    return n;
  }
  std::unique_ptr<TsdbHistorian> historian() {
    return std::make_unique<TsdbHistorian>(recorder_tsdb_settings(cluster().settings()), kEndpoint);
  }
  std::vector<tsdbpy::tsdata::Sample> samples(int tag_id) {
    return tsdbpy::tsdata::read_tsdata(conn_, tag_id, {}, std::chrono::system_clock::now() + 1h);
  }

  // Poll n of nodes 0 and 1, read n seconds after `start`.
  static Poll poll(int n, std::chrono::system_clock::time_point start) {
    return Poll{start + std::chrono::seconds(n), {0, 1}, {static_cast<double>(n), -n / 2.0}};
  }

  static constexpr const char* kEndpoint = "opc.tcp://localhost:22200";
  tsdbpy::conn::Connection conn_;
};

TEST_F(RecordingTest, SourceIsReusedByEndpointAndTheFirstMatchWins) {
  const auto first = _tsdb_ensure_source(conn_, kEndpoint);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(_tsdb_ensure_source(conn_, kEndpoint), first);
  const auto other = _tsdb_ensure_source(conn_, "opc.tcp://elsewhere:4840");
  EXPECT_NE(other, first);

  tsdbpy::source::SourceInfo duplicate{
      .source_name = "varnok", .endpoint = kEndpoint, .protocol = tsdbpy::source::SourceProtocol::OPC_UA};
  ASSERT_TRUE(tsdbpy::source::insert_new_source(conn_, duplicate).ok);
  EXPECT_EQ(_tsdb_ensure_source(conn_, kEndpoint), first);
  EXPECT_EQ(count("SELECT count(*) FROM sources"), 3);
  EXPECT_EQ(
      count("SELECT count(*) FROM sources WHERE source_type = 'Simulation' AND interval_msec = 1000 AND "
            "description->>'created_by' = 'varnok' AND description->>'protocol' = 'opcua'"),
      2);
}

TEST_F(RecordingTest, TagsAreRegisteredOnceAndReusedByTheNextRun) {
  const std::vector<std::string> nodes{"2:T1.CV1", "2:T1.MV1", "2:T1.x'); DROP TABLE tags; --", "2:T1.ü;\\"};
  auto first = historian();
  first->open(nodes);
  ASSERT_EQ(first->tag_ids().size(), nodes.size());
  EXPECT_EQ(std::count(first->tag_ids().begin(), first->tag_ids().end(), 0), 0);
  first->close();

  auto second = historian();
  second->open(nodes);
  EXPECT_EQ(second->tag_ids(), first->tag_ids());
  EXPECT_EQ(count("SELECT count(*) FROM tags"), 4);
  EXPECT_EQ(count("SELECT count(*) FROM sources"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM tags WHERE tag_name = '2:T1.x''); DROP TABLE tags; --'"), 1);
}

TEST_F(RecordingTest, EveryValueIsStoredAtItsPollsTimeAndABatchSentAgainOnlyOnce) {
  auto store = historian();
  store->open({"2:A", "2:B"});
  const auto start = std::chrono::system_clock::now() - 10min;
  std::vector<Poll> polls;
  for (int n = 0; n < 3; ++n) polls.push_back(poll(n, start));
  polls.push_back(Poll{start + 3s, {0, 7}, {3.0, 99.0}});  // node 7 has no tag
  ASSERT_TRUE(store->write(polls).ok);
  ASSERT_TRUE(store->write(polls).ok);  // as after an answer that was lost

  const auto a = samples(store->tag_ids()[0]);
  ASSERT_EQ(a.size(), 4u);
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(a[n].ts, std::chrono::ceil<std::chrono::microseconds>(start + std::chrono::seconds(n)));
    EXPECT_EQ(a[n].value, n);
  }
  EXPECT_EQ(samples(store->tag_ids()[1]).size(), 3u);
  EXPECT_EQ(count("SELECT count(*) FROM tsdata"), 7);
}

TEST_F(RecordingTest, WithoutSettingsNothingTouchesTheDatabase) {
  ViewerSession session({.endpoint = "opc.tcp://127.0.0.1:1", .parent_node_name = "T1"},
                        {.say = [](auto&) {}});
  EXPECT_EQ(session.run(), SessionEnd::kStartFailed);
  EXPECT_FALSE(session.counts().recording.has_value());
  EXPECT_EQ(count("SELECT count(*) FROM sources"), 0);
}

TEST_F(RecordingTest, ARestartedDatabaseLosesNoPollAndIsSaidOnceEachWay) {
  std::mutex mutex;
  std::vector<std::string> lines;
  auto store = historian();
  TsdbHistorian* view = store.get();
  Recorder recorder(std::move(store), 100ms, [&](const std::string& line) {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  });
  recorder.start({"2:A", "2:B"}, 3600);
  const auto start = std::chrono::system_clock::now() - 1h;
  recorder.record(poll(0, start));
  ASSERT_TRUE(eventually([&] { return recorder.counts().recorded == 1; }));
  conn_.close();
  cluster().stop();
  for (int n = 1; n < 6; ++n) {
    recorder.record(poll(n, start));
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return !lines.empty();
  }));
  EXPECT_EQ(recorder.counts().recorded, 1u);
  cluster().start();
  recorder.record(poll(6, start));
  ASSERT_TRUE(eventually([&] { return recorder.counts().recorded == 7; }, 20s));
  recorder.request_stop(Recorder::Clock::now() + 1s);
  recorder.finish();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("数据库连接失败，暂停记录: ")) << lines[0];
  EXPECT_EQ(lines[1], "数据库已重新连接，恢复记录");

  conn_ = tsdbpy::conn::get_conn(cluster().settings());
  const auto a = samples(view->tag_ids()[0]);
  ASSERT_EQ(a.size(), 7u);
  for (int n = 0; n < 7; ++n) EXPECT_EQ(a[n].value, n);
}

}  // namespace
}  // namespace varnok::tessaly

namespace varnok::tessaly {
namespace {

TEST_F(RecordingTest, OpeningMakesTheComingDaysAndDropsOnlyWhatKeepDaysLetsGo) {
  using std::chrono::days;
  const auto now = std::chrono::system_clock::now();
  const auto partition_of = [](std::chrono::system_clock::time_point t) {
    const auto day = std::chrono::year_month_day{std::chrono::floor<days>(t)};
    char name[32];
    std::snprintf(name, sizeof name, "tsdata_%04d%02u%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return std::string(name);
  };
  const auto exists = [&](const std::string& table) {
    return count("SELECT 1 FROM pg_class WHERE relname = '" + table + "'") == 1;
  };
  const std::string old_day = partition_of(now - days(10));
  tsdbpy::tsdata::upkeep_partitions(conn_, now - days(10), std::nullopt, 0);
  ASSERT_TRUE(exists(old_day));

  // Without keep_days nothing goes; with it, only days that old.
  historian()->open({"2:S1.CV1"});
  EXPECT_TRUE(exists(old_day));
  EXPECT_TRUE(exists(partition_of(now + days(2))));
  TsdbHistorian keeping(recorder_tsdb_settings(cluster().settings()), kEndpoint, 3);
  keeping.open({"2:S1.CV1"});
  EXPECT_FALSE(exists(old_day));
  EXPECT_TRUE(exists(partition_of(now)));
}

}  // namespace
}  // namespace varnok::tessaly
