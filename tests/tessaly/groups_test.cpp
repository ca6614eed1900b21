// A session of several groups against the real opcsim and a throw-away
// PostgreSQL: all groups read as one and recorded as one batch per poll,
// groups that appear picked up, groups whose plant stops said once each
// way without holding up the others. No Qt.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <mutex>
#include <optional>

#include "eventually.h"
#include "gateway_client.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "viewer_session.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using varnok::testing::eventually;

struct Servers {
  varnok::testing::OpcsimProcess opcsim;
  tsdbpy_testing::PgCluster db;
  corvex::GatewayClient gateway{"127.0.0.1", opcsim.gateway_port(), 5000ms};

  std::string endpoint() const { return "opc.tcp://127.0.0.1:" + std::to_string(opcsim.opcua_port()); }
  // Group `name` with tags A, B, C, held for an hour; gives the plant's session.
  std::string serve(const std::string& name) {
    return gateway.register_group(name, {{"A", 1.5}, {"B", 2.0}, {"C", -3.0}}, 60min, "groups-test");
  }
};

Servers& servers() {
  static Servers instance;
  return instance;
}

class Seen {
 public:
  SessionEvents events() {
    return {.node_discovered =
                [this](const DiscoveredNode& node) {
                  std::lock_guard lock(mutex_);
                  nodes_.push_back(node.node_id);
                },
            .numbers =
                [this](const PolledNumbers& numbers) {
                  std::lock_guard lock(mutex_);
                  last_numbers_ = numbers.node_ids;
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
  std::vector<std::string> last_numbers() const {
    std::lock_guard lock(mutex_);
    return last_numbers_;
  }
  int count(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
  }
  std::string text() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& l : lines_) out += l + "\n";
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> nodes_;
  std::vector<std::string> last_numbers_;
  std::vector<std::string> lines_;
};

// A session on a thread of its own, shut down as its owners do (stop, a
// grace, then interrupt) also when a test fails half-way.
class Running {
 public:
  Running(SessionSettings settings, Seen& seen)
      : session_(std::move(settings), seen.events()),
        end_(std::async(std::launch::async, [this] { return session_.run(); })) {}
  ~Running() { shut_down(); }

  ViewerSession& session() { return session_; }
  std::optional<SessionEnd> shut_down() {
    if (!end_.valid()) return std::nullopt;
    session_.stop();
    if (end_.wait_for(ViewerSession::kStopGrace) != std::future_status::ready) session_.interrupt();
    return end_.get();
  }

 private:
  ViewerSession session_;
  std::future<SessionEnd> end_;
};

SessionSettings all_groups() {
  return {.endpoint = servers().endpoint(),
          .all_groups = true,
          .period = 100ms,
          .database = servers().db.settings(),
          .rescan = 200ms};
}

// Per tag name: rows, and the distinct time stamps over every tag.
struct Stored {
  std::map<std::string, long> rows;
  long distinct_ts = 0;
};
Stored stored() {
  PGconn* pg = servers().db.raw_connect();
  Stored out;
  PGresult* res =
      PQexec(pg, "SELECT tag_name, count(*) FROM tsdata JOIN tags USING (tag_id) GROUP BY tag_name");
  for (int row = 0; row < PQntuples(res); ++row)
    out.rows[PQgetvalue(res, row, 0)] = std::stol(PQgetvalue(res, row, 1));
  PQclear(res);
  res = PQexec(pg, "SELECT count(DISTINCT ts) FROM tsdata");
  if (PQntuples(res) == 1) out.distinct_ts = std::stol(PQgetvalue(res, 0, 0));
  PQclear(res);
  PQfinish(pg);
  return out;
}

bool polls_nodes_of(const Seen& seen, const std::string& group) {
  const auto ids = seen.last_numbers();
  return std::find(ids.begin(), ids.end(), "2:" + group + ".A") != ids.end();
}

TEST(SeveralGroups, AllGroupsArePolledAsOneAndFollowedAsTheyComeAndGo) {
  servers().serve("G1");
  const std::string g2 = servers().serve("G2");
  Seen seen;
  Running running(all_groups(), seen);
  ViewerSession& session = running.session();

  ASSERT_TRUE(eventually([&] { return session.counts().polls >= 3; })) << seen.text();
  EXPECT_EQ(seen.count("group G1 found: 3 nodes"), 1) << seen.text();
  EXPECT_EQ(seen.count("group G2 found: 3 nodes"), 1) << seen.text();

  // A plant started after the recorder: picked up by a rescan.
  servers().serve("G3");
  ASSERT_TRUE(eventually([&] { return polls_nodes_of(seen, "G3"); })) << seen.text();
  EXPECT_EQ(seen.count("group G3 found: 3 nodes"), 1) << seen.text();

  // A plant stopped and started again: said once each way, the others go on.
  servers().gateway.release("G2", g2);
  ASSERT_TRUE(eventually([&] {
    return seen.count("group G2: no live value (BadNoCommunication (0x80310000))") == 1;
  })) << seen.text();
  const std::uint64_t while_gone = session.counts().polls;
  ASSERT_TRUE(eventually([&] { return session.counts().polls >= while_gone + 5; }));
  servers().serve("G2");
  ASSERT_TRUE(eventually([&] { return seen.count("group G2: live again") == 1; })) << seen.text();
  ASSERT_TRUE(eventually([&] { return session.counts().recording->recorded >= session.counts().polls; }));
  EXPECT_EQ(running.shut_down(), SessionEnd::kStopped);

  const SessionCounts counts = session.counts();
  EXPECT_EQ(counts.groups, 3u);
  EXPECT_EQ(counts.nodes, 9u);
  ASSERT_TRUE(counts.recording.has_value());
  EXPECT_EQ(*counts.recording, (RecorderCounts{counts.polls, 0, 0, ""}));
  const auto nodes = seen.nodes();
  EXPECT_EQ(std::vector<std::string>(nodes.end() - 3, nodes.end()),
            (std::vector<std::string>{"2:G3.A", "2:G3.B", "2:G3.C"}))
      << "appended in the order found";
  EXPECT_EQ(seen.count("group G2: no live value (BadNoCommunication (0x80310000))"), 1) << seen.text();
  EXPECT_EQ(seen.count("group G2: live again"), 1) << seen.text();

  const Stored db = stored();
  // One batch per poll for every group: one time stamp per poll.
  EXPECT_EQ(db.distinct_ts, static_cast<long>(counts.polls));
  EXPECT_EQ(db.rows.at("2:G1.A"), static_cast<long>(counts.polls)) << "G1 recorded throughout";
  EXPECT_LT(db.rows.at("2:G2.A"), static_cast<long>(counts.polls)) << "G2's stale values are not recorded";
  EXPECT_GT(db.rows.at("2:G3.C"), 0);
  EXPECT_LT(db.rows.at("2:G3.C"), static_cast<long>(counts.polls));
}

TEST(SeveralGroups, NamedGroupsMustAllExistAtTheStartAndTheMissingOneIsNamed) {
  servers().serve("N1");
  Seen seen;
  SessionSettings settings{
      .endpoint = servers().endpoint(), .parent_node_name = "N1", .more_groups = {"Nope"}, .period = 100ms};
  ViewerSession session(settings, seen.events());
  EXPECT_EQ(session.run(), SessionEnd::kStartFailed);
  EXPECT_EQ(seen.count("浏览 source 失败 (group Nope)"), 1) << seen.text();
}

TEST(SeveralGroups, APlantReplacedByOneWithOtherTagsHasItsNewTagsPolled) {
  const std::string first = servers().serve("R1");
  servers().serve("R2");
  Seen seen;
  SessionSettings settings{.endpoint = servers().endpoint(),
                           .parent_node_name = "R1",
                           .more_groups = {"R2"},
                           .period = 100ms,
                           .rescan = 200ms};
  Running running(settings, seen);
  ASSERT_TRUE(eventually([&] { return polls_nodes_of(seen, "R1"); })) << seen.text();

  // Tags A and B stay, C goes, D comes.
  servers().gateway.release("R1", first);
  servers().gateway.register_group("R1", {{"A", 1.0}, {"B", 2.0}, {"D", 4.0}}, 60min, "groups-test");
  const auto polls_d = [&] {
    const auto ids = seen.last_numbers();
    return std::find(ids.begin(), ids.end(), "2:R1.D") != ids.end();
  };
  ASSERT_TRUE(eventually(polls_d)) << seen.text();
  EXPECT_EQ(running.shut_down(), SessionEnd::kStopped);
  EXPECT_EQ(seen.count("group R1: 1 more node"), 1) << seen.text();
  EXPECT_EQ(running.session().counts().nodes, 7u);
}

}  // namespace
}  // namespace varnok::tessaly
