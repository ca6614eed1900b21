// The viewer's session against the real opcsim and a throw-away PostgreSQL:
// polling, writing and recording, and how it behaves when the OPC UA server
// or the database hangs. No Qt here: this program also runs under
// ThreadSanitizer.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <thread>

#include "eventually.h"
#include "gateway_client.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "viewer_session.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using varnok::testing::eventually;

// One opcsim and one database for the program; each test serves a group of
// its own, so that a test that restarts opcsim leaves the others alone.
struct Servers {
  varnok::testing::OpcsimProcess opcsim;
  tsdbpy_testing::PgCluster db;

  std::string endpoint() const { return "opc.tcp://127.0.0.1:" + std::to_string(opcsim.opcua_port()); }
  // Group `name` with tags A = 1.5, B = 2, C = -3, held for an hour.
  void serve(const std::string& name) const {
    corvex::GatewayClient gateway("127.0.0.1", opcsim.gateway_port(), 5000ms);
    gateway.register_group(name, {{"A", 1.5}, {"B", 2.0}, {"C", -3.0}}, 60min, "session-test");
  }
};

Servers& servers() {
  static Servers instance;
  return instance;
}

// Everything a session reported, kept for the test's thread.
class Seen {
 public:
  SessionEvents events() {
    return {.node_discovered =
                [this](const DiscoveredNode& node) {
                  std::lock_guard lock(mutex_);
                  nodes_.push_back(node.node_id);
                },
            .values =
                [this](const std::vector<ShownValue>& values) {
                  std::lock_guard lock(mutex_);
                  reports_.push_back(values);
                },
            .write_finished =
                [this](const WriteOutcome& outcome) {
                  std::lock_guard lock(mutex_);
                  writes_.push_back(outcome);
                },
            .say =
                [this](const std::string& line) {
                  std::lock_guard lock(mutex_);
                  lines_.push_back(line);
                }};
  }
  std::vector<std::string> nodes() const {
    std::lock_guard lock(mutex_);
    return nodes_;
  }
  std::vector<std::vector<ShownValue>> reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  std::vector<WriteOutcome> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // The last value reported for `node_id`, if any.
  std::optional<ShownValue> last(const std::string& node_id) const {
    std::lock_guard lock(mutex_);
    for (auto report = reports_.rbegin(); report != reports_.rend(); ++report) {
      for (const ShownValue& v : *report) {
        if (v.node_id == node_id) return v;
      }
    }
    return std::nullopt;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> nodes_;
  std::vector<std::vector<ShownValue>> reports_;
  std::vector<WriteOutcome> writes_;
  std::vector<std::string> lines_;
};

// A session running on a thread of its own, shut down as its owners do:
// stop, a grace, then interrupt.
class Running {
 public:
  Running(SessionSettings settings, Seen& seen)
      : session_(std::move(settings), seen.events()),
        end_(std::async(std::launch::async, [this] { return session_.run(); })) {}
  ~Running() { shut_down(); }

  ViewerSession& session() { return session_; }
  // How long shutting down took.
  Clock::duration shut_down() {
    if (!end_.valid()) return {};
    const auto t0 = Clock::now();
    session_.stop();
    if (end_.wait_for(ViewerSession::kStopGrace) != std::future_status::ready) session_.interrupt();
    end_.get();
    return Clock::now() - t0;
  }

 private:
  ViewerSession session_;
  std::future<SessionEnd> end_;
};

SessionSettings settings(const std::string& group, bool record) {
  SessionSettings s{.endpoint = servers().endpoint(), .parent_node_name = group, .period = 100ms};
  if (record) s.database = servers().db.settings();
  return s;
}

// Rows of one node's tag: count and distinct time stamps, and the last value.
struct Rows {
  long count = 0;
  long distinct_ts = 0;
  double last = 0;
};
Rows rows_of(const std::string& node_id) {
  PGconn* pg = servers().db.raw_connect();
  const char* params[] = {node_id.c_str()};
  PGresult* res = PQexecParams(pg,
                               "SELECT count(*), count(DISTINCT ts),"
                               " coalesce((array_agg(value ORDER BY ts DESC))[1], 0)"
                               " FROM tsdata JOIN tags USING (tag_id) WHERE tag_name = $1",
                               1, nullptr, params, nullptr, nullptr, 0);
  Rows rows;
  if (PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) == 1) {
    rows = {std::stol(PQgetvalue(res, 0, 0)), std::stol(PQgetvalue(res, 0, 1)),
            std::stod(PQgetvalue(res, 0, 2))};
  } else {
    ADD_FAILURE() << PQresultErrorMessage(res);
  }
  PQclear(res);
  PQfinish(pg);
  return rows;
}

bool shows(const Seen& seen, const std::string& node_id, const std::string& text) {
  const auto v = seen.last(node_id);
  return v && v->live && v->text == text;
}

TEST(ViewerSession, PollsWritesAndRecordsEveryPollWithItsOwnTimeStamp) {
  servers().serve("V1");
  Seen seen;
  Running running(settings("V1", true), seen);
  ViewerSession& session = running.session();
  ASSERT_TRUE(eventually([&] { return session.counts().polls >= 3; }));
  EXPECT_EQ(seen.nodes(), (std::vector<std::string>{"2:V1.A", "2:V1.B", "2:V1.C"}));
  EXPECT_TRUE(shows(seen, "2:V1.A", "1.5"));

  EXPECT_EQ(session.request_write("2:V1.A", 7.25), TagWriter::Request::kQueued);
  EXPECT_EQ(session.request_write("9:Nope", 1.0), TagWriter::Request::kUnknownNode);
  ASSERT_TRUE(eventually([&] { return !seen.writes().empty(); }));
  const WriteOutcome written = seen.writes().front();
  EXPECT_TRUE(written.ok) << written.reason;
  EXPECT_EQ(written.node_id, "2:V1.A");
  EXPECT_TRUE(eventually([&] { return shows(seen, "2:V1.A", "7.25"); }));
  ASSERT_TRUE(eventually([&] { return session.counts().polls >= 15; }));
  running.shut_down();

  const SessionCounts counts = session.counts();
  ASSERT_TRUE(counts.recording.has_value());
  EXPECT_EQ(*counts.recording, (RecorderCounts{counts.polls, 0, 0, ""}));
  const Rows a = rows_of("2:V1.A");
  EXPECT_EQ(a.count, static_cast<long>(counts.polls));
  EXPECT_EQ(a.distinct_ts, a.count) << "every poll has its own time stamp";
  EXPECT_EQ(a.last, 7.25);
  EXPECT_EQ(seen.lines(), (std::vector<std::string>{"未知节点: 9:Nope"}));
}

TEST(ViewerSession, AFrozenServerFailsAWriteWithinTheClientsTimeOutAndStoppingTakesUnderASecond) {
  servers().serve("V2");
  Seen seen;
  Running running(settings("V2", false), seen);
  ASSERT_TRUE(eventually([&] { return running.session().counts().polls >= 2; }));
  servers().opcsim.pause();
  const auto t0 = Clock::now();
  EXPECT_EQ(running.session().request_write("2:V2.B", 5.0), TagWriter::Request::kQueued);
  EXPECT_LT(Clock::now() - t0, 100ms) << "queuing a write waits for nothing";
  // A fresh connection (connect time-out) or a request (request time-out).
  const hublet::Options client;
  ASSERT_TRUE(eventually([&] { return !seen.writes().empty(); },
                         client.connect_timeout + client.request_timeout + 5s));
  EXPECT_FALSE(seen.writes().front().ok);
  EXPECT_EQ(seen.writes().front().reason, "TIMEOUT");
  // The poll in progress gives up too, and the values turn stale.
  EXPECT_TRUE(eventually([&] {
    const auto v = seen.last("2:V2.A");
    return v && !v->live && v->text.empty() && v->status.find("TIMEOUT") != std::string::npos;
  }));

  running.session().request_write("2:V2.B", 6.0);  // in progress while stopping
  EXPECT_LT(running.shut_down(), 1s);
  servers().opcsim.resume();
}

TEST(ViewerSession, ValuesAreStaleWhileTheGroupIsGoneAndStaleOnesAreNotRecorded) {
  servers().serve("V3");
  Seen seen;
  Running running(settings("V3", true), seen);
  ASSERT_TRUE(eventually([&] { return shows(seen, "2:V3.A", "1.5"); }));
  // opcsim restarted: the group's nodes do not exist until it is served again.
  servers().opcsim.kill_now();
  servers().opcsim.start();
  ASSERT_TRUE(eventually(
      [&] {
        const auto v = seen.last("2:V3.A");
        return v && !v->live && v->status.starts_with("BadNodeIdUnknown");
      },
      20s));
  servers().serve("V3");
  ASSERT_TRUE(eventually([&] { return shows(seen, "2:V3.A", "1.5"); }, 20s));
  running.shut_down();

  long live_polls = 0;
  for (const auto& report : seen.reports()) {
    if (report.size() == 3 && report[0].live) ++live_polls;
  }
  EXPECT_EQ(rows_of("2:V3.A").count, live_polls);
  EXPECT_LT(live_polls, static_cast<long>(running.session().counts().polls)) << "some polls were bad";
}

TEST(ViewerSession, AWriteTheServerRefusesSaysTheServersStatusAndTheRowShowsWhatIsThere) {
  corvex::GatewayClient gateway("127.0.0.1", servers().opcsim.gateway_port(), 5000ms);
  const std::string plant = gateway.register_group("V6", {{"A", 1.5}, {"B", 2.0}}, 60min, "session-test");
  Seen seen;
  Running running(settings("V6", false), seen);
  ASSERT_TRUE(eventually([&] { return shows(seen, "2:V6.A", "1.5"); }));
  gateway.release("V6", plant);  // no plant: the server refuses writes
  ASSERT_TRUE(eventually([&] {
    const auto v = seen.last("2:V6.A");
    return v && !v->live;
  }));
  running.session().request_write("2:V6.A", 9.0);
  ASSERT_TRUE(eventually([&] { return !seen.writes().empty(); }));
  EXPECT_FALSE(seen.writes().front().ok);
  EXPECT_EQ(seen.writes().front().reason, "BadNoCommunication (0x80310000)");
  const auto v = seen.last("2:V6.A");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->text, "1.5");
}

TEST(ViewerSession, AFrozenDatabaseNeitherStopsNorDelaysPollingAndEveryPollIsRecordedAfterwards) {
  servers().serve("V4");
  Seen seen;
  Running running(settings("V4", true), seen);
  ViewerSession& session = running.session();
  ASSERT_TRUE(eventually([&] { return session.counts().recording->recorded >= 3; }));
  servers().db.pause();
  const std::uint64_t before = session.counts().polls;
  std::this_thread::sleep_for(8s);
  const std::uint64_t during = session.counts().polls - before;
  servers().db.resume();
  // 80 polls at 100 ms; half of that is plenty on a busy machine.
  EXPECT_GE(during, 40u) << "polling went on while the database was frozen";
  ASSERT_TRUE(eventually(
      [&] {
        const auto counts = session.counts();
        return counts.recording->queued == 0 && counts.recording->recorded == counts.polls;
      },
      30s));
  running.shut_down();

  const SessionCounts counts = session.counts();
  EXPECT_EQ(counts.recording->dropped, 0u);
  const Rows a = rows_of("2:V4.A");
  EXPECT_EQ(a.count, static_cast<long>(counts.recording->recorded));
  EXPECT_EQ(a.distinct_ts, a.count);
  const auto lines = seen.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const auto& l) { return l.starts_with("数据库连接失败"); }),
            1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "数据库已重新连接，恢复记录"), 1);
}

TEST(ViewerSession, StoppingWhileTheDatabaseIsFrozenTakesUnderASecondAndCountsWhatWasLeft) {
  servers().serve("V6");
  Seen seen;
  Running running(settings("V6", true), seen);
  ViewerSession& session = running.session();
  ASSERT_TRUE(eventually([&] { return session.counts().recording->recorded >= 3; }));
  servers().db.pause();
  std::this_thread::sleep_for(1s);  // a write now waits for the frozen server
  const auto took = running.shut_down();
  servers().db.resume();
  EXPECT_LT(took, 1s);
  const SessionCounts counts = session.counts();
  EXPECT_GT(counts.recording->queued, 0u);
  EXPECT_EQ(counts.recording->recorded + counts.recording->queued, counts.polls);
}

// What the session relies on: the client library's interrupt() ends a wait
// on a frozen server at once, and later calls fail without waiting.
TEST(HubletInterrupt, EndsAReadAndAConnectOnAFrozenServerAtOnceAndLaterCallsFailAtOnce) {
  servers().serve("V5");
  hublet::HubletLibrary reader;
  const int source = reader.create_source(0, servers().endpoint(), 100, 1);
  ASSERT_NE(source, hublet::HUBLET_INVALID_HANDLE);
  const int group = reader.create_group(source, "G1");
  const auto [subscribed, items] =
      reader.subscribe_group(group, {{hublet::HUBLET_DATATYPE_DOUBLE, 2, "V5.A"}});
  ASSERT_EQ(subscribed, hublet::HUBLET_STATUS_GOOD);
  ASSERT_EQ(reader.read_group_values(group, items).first, hublet::HUBLET_STATUS_GOOD);
  hublet::HubletLibrary connector;

  servers().opcsim.pause();
  auto read = std::async(std::launch::async, [&] { return reader.read_group_values(group, items).first; });
  auto connect = std::async(std::launch::async,
                            [&] { return connector.create_source(0, servers().endpoint(), 100, 1); });
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(read.wait_for(0s), std::future_status::timeout) << "the read did not wait";
  ASSERT_EQ(connect.wait_for(0s), std::future_status::timeout) << "the connect did not wait";
  const auto t0 = Clock::now();
  reader.interrupt();
  connector.interrupt();
  EXPECT_EQ(read.get(), hublet::HUBLET_STATUS_CANCELLED);
  EXPECT_EQ(connect.get(), hublet::HUBLET_INVALID_HANDLE);
  EXPECT_LT(Clock::now() - t0, 1s);

  const auto t1 = Clock::now();
  EXPECT_EQ(reader.read_group_values(group, items).first, hublet::HUBLET_STATUS_CANCELLED);
  EXPECT_EQ(reader.create_source(0, servers().endpoint(), 100, 1), hublet::HUBLET_INVALID_HANDLE);
  reader.destroy();
  EXPECT_LT(Clock::now() - t1, 1s);
  servers().opcsim.resume();
}

}  // namespace
}  // namespace varnok::tessaly
