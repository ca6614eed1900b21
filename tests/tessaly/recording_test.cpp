#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "pg_cluster.h"
#include "tsdb_recording.h"
#include "tsdbpy/source.h"
#include "tsdbpy/tsdata.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using tsdbpy_testing::PgCluster;

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

  std::unique_ptr<TsdbRecording> recording(std::vector<std::string>* lines = nullptr,
                                           std::chrono::milliseconds retry = 100ms) {
    TsdbRecording::Say say = [lines](const std::string& line) {
      if (lines != nullptr) lines->push_back(line);
    };
    return std::make_unique<TsdbRecording>(cluster().settings(), kEndpoint, retry, say);
  }

  static hublet::ValueRecord value(double v) {
    hublet::ValueRecord r;
    r.value = v;
    return r;
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
  auto first = recording();
  first->prepare(nodes);
  ASSERT_EQ(first->tag_ids().size(), nodes.size());
  first->close();

  auto second = recording();
  second->prepare(nodes);
  EXPECT_EQ(second->tag_ids(), first->tag_ids());
  EXPECT_EQ(count("SELECT count(*) FROM tags"), 4);
  EXPECT_EQ(count("SELECT count(*) FROM sources"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM tags WHERE tag_name = '2:T1.x''); DROP TABLE tags; --'"), 1);
}

TEST_F(RecordingTest, OneBatchPerCycleWithOnlyNumbersOfTaggedNodes) {
  auto rec = recording();
  rec->prepare({"2:A", "2:B"});
  for (int cycle = 0; cycle < 3; ++cycle) {
    rec->begin_cycle();
    rec->collect("2:A", value(cycle));
    hublet::ValueRecord text;
    text.value = std::string("not a number");
    rec->collect("2:B", text);
    rec->collect("2:Unregistered", value(7.0));
    rec->write();
  }
  const int a = rec->tag_ids().at("2:A");
  const auto samples = tsdbpy::tsdata::read_tsdata(conn_, a, {}, std::chrono::system_clock::now() + 1h);
  ASSERT_EQ(samples.size(), 3u);
  EXPECT_EQ(samples[2].value, 2.0);
  EXPECT_EQ(count("SELECT count(*) FROM tsdata"), 3);
  EXPECT_EQ(count("SELECT count(DISTINCT ts) FROM tsdata"), 3);  // one statement per cycle
}

TEST_F(RecordingTest, WithoutSettingsNothingTouchesTheDatabase) {
  TsdbRecording off({}, kEndpoint);
  off.prepare({"2:A"});
  off.begin_cycle();
  off.collect("2:A", value(1.0));
  off.write();
  EXPECT_FALSE(off.active());
  EXPECT_EQ(count("SELECT count(*) FROM sources"), 0);
}

TEST_F(RecordingTest, SurvivesADatabaseRestartAndSaysSoOnceEachWay) {
  std::vector<std::string> lines;
  auto rec = recording(&lines);
  rec->prepare({"2:A"});
  const auto cycle = [&](double v) {
    rec->begin_cycle();
    rec->collect("2:A", value(v));
    rec->write();
  };
  cycle(1.0);
  conn_.close();
  cluster().stop();
  for (int i = 0; i < 5; ++i) cycle(2.0);  // lost: recording off, one line
  EXPECT_FALSE(rec->active());
  cluster().start();
  std::this_thread::sleep_for(150ms);
  cycle(3.0);  // reconnects, resumes
  cycle(4.0);
  EXPECT_TRUE(rec->active());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("数据库连接失败"), std::string::npos);
  EXPECT_NE(lines[1].find("恢复记录"), std::string::npos);

  conn_ = tsdbpy::conn::get_conn(cluster().settings());
  const auto samples =
      tsdbpy::tsdata::read_tsdata(conn_, rec->tag_ids().at("2:A"), {}, std::chrono::system_clock::now() + 1h);
  ASSERT_GE(samples.size(), 2u);
  EXPECT_EQ(samples.front().value, 1.0);
  EXPECT_EQ(samples.back().value, 4.0);
}

}  // namespace
}  // namespace varnok::tessaly
