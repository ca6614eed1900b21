#include "recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "eventually.h"
#include "fake_historian.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using testing::FakeDatabase;
using testing::FakeHistorian;
using varnok::testing::eventually;

constexpr const char* kPaused = "数据库连接失败，暂停记录: ";
constexpr const char* kResumed = "数据库已重新连接，恢复记录";
constexpr const char* kDropped = "记录队列已满";

// Poll number n of `values` nodes, read n seconds after the epoch.
Poll poll(int n, int values = 2) {
  Poll p{std::chrono::system_clock::time_point(std::chrono::seconds(n)), {}, {}};
  for (int i = 0; i < values; ++i) {
    p.nodes.push_back(static_cast<std::uint32_t>(i));
    p.values.push_back(n + i / 10.0);
  }
  return p;
}

std::vector<Poll> polls(int from, int to, int values = 2) {
  std::vector<Poll> out;
  for (int n = from; n < to; ++n) out.push_back(poll(n, values));
  return out;
}

class Lines {
 public:
  Recorder::Say say() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  // How many lines start with `prefix`; the whole text for messages.
  int count(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                          [&](const std::string& l) { return l.starts_with(prefix); }));
  }
  std::string text() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& l : lines_) out += l + "\n";
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A recorder of two nodes on a fake database, retrying every 20 ms.
struct Rig {
  explicit Rig(std::size_t capacity = 3600, bool up = true) {
    db.set_up(up);
    recorder = std::make_unique<Recorder>(std::make_unique<FakeHistorian>(db), 20ms, lines.say());
    recorder->start({"2:G.A", "2:G.B"}, capacity);
  }
  void record(const std::vector<Poll>& some) {
    for (const Poll& p : some) recorder->record(p);
  }
  bool recorded(std::uint64_t n) {
    return eventually([&] { return recorder->counts().recorded >= n; });
  }

  FakeDatabase db;
  Lines lines;
  std::unique_ptr<Recorder> recorder;
};

TEST(Recorder, WritesEveryPollInOrderWithItsOwnTimeStamp) {
  Rig rig;
  auto& [db, lines, recorder] = rig;
  rig.record(polls(0, 5));
  ASSERT_TRUE(rig.recorded(5));
  rig.record(polls(5, 8));
  recorder->request_stop(Recorder::Clock::now() + 5s);
  recorder->finish();
  EXPECT_EQ(db.written(), polls(0, 8));
  EXPECT_EQ(recorder->counts(), (RecorderCounts{8, 0, 0, ""}));
  EXPECT_EQ(lines.text(), "");
}

// The database goes away, polls arrive while it is away, then it is back.
TEST(Recorder, AnOutageLosesNothingUpToTheBoundAndTheBacklogGoesInBatches) {
  struct Case {
    const char* name;
    std::size_t capacity;
    int polls_while_away;
    int values_per_poll;
    std::uint64_t dropped;
    std::size_t largest_batch;
  };
  for (const Case& c : {
           Case{"a short outage", 3600, 30, 2, 0, 30},
           Case{"a backlog of many statements", 3600, 1200, 2, 0, Recorder::kBatchPolls},
           Case{"a wide group: batches bounded by values", 3600, 300, 50, 0, Recorder::kBatchValues / 50},
           Case{"an outage beyond the bound", 100, 250, 2, 150, 50},
       }) {
    SCOPED_TRACE(c.name);
    Rig rig(c.capacity);
    auto& [db, lines, recorder] = rig;
    rig.record(polls(0, 3, c.values_per_poll));
    ASSERT_TRUE(rig.recorded(3));
    db.set_up(false);
    rig.record(polls(3, 3 + c.polls_while_away, c.values_per_poll));
    ASSERT_TRUE(eventually([&] { return lines.count(kPaused) == 1; }));
    EXPECT_EQ(recorder->counts().recorded, 3u) << "nothing written while away";
    db.set_up(true);
    const auto kept = static_cast<std::uint64_t>(c.polls_while_away) - c.dropped;
    ASSERT_TRUE(rig.recorded(3 + kept)) << lines.text();
    recorder->finish();

    // The newest polls, in order, each with its own time stamp.
    auto expected = polls(0, 3, c.values_per_poll);
    const auto newest = polls(3 + static_cast<int>(c.dropped), 3 + c.polls_while_away, c.values_per_poll);
    expected.insert(expected.end(), newest.begin(), newest.end());
    EXPECT_EQ(db.written(), expected);
    EXPECT_EQ(recorder->counts(), (RecorderCounts{3 + kept, 0, c.dropped, ""}));
    std::size_t largest = 0;
    for (const auto& batch : db.batches()) largest = std::max(largest, batch.size());
    EXPECT_EQ(largest, c.largest_batch);
    EXPECT_EQ(lines.count(kPaused), 1) << lines.text();
    EXPECT_EQ(lines.count(kResumed), 1) << lines.text();
    EXPECT_EQ(lines.count(kDropped), c.dropped > 0 ? 1 : 0) << lines.text();
    if (c.dropped > 0) {
      std::string count = " ";  // appended: GCC 12 misreports "x" + std::string
      count += std::to_string(c.dropped);
      count += " ";
      EXPECT_NE(lines.text().find(count), std::string::npos) << lines.text();
    }
  }
}

TEST(Recorder, ADatabaseDownFromTheStartIsTriedAgainAndSaidOnce) {
  Rig rig(3600, false);
  auto& [db, lines, recorder] = rig;
  rig.record(polls(0, 4));
  ASSERT_TRUE(eventually([&] { return db.opens() >= 4; }));
  EXPECT_EQ(lines.count(kPaused), 1) << lines.text();
  EXPECT_EQ(recorder->counts(), (RecorderCounts{0, 4, 0, "database down"})) << "and says why";
  db.set_up(true);
  ASSERT_TRUE(rig.recorded(4));
  EXPECT_EQ(lines.count(kResumed), 1) << lines.text();
  EXPECT_EQ(recorder->counts().failure, "") << "recording again";
}

TEST(Recorder, StoppingDrainsTheQueueWhileTheDatabaseAnswers) {
  Rig rig;
  auto& [db, lines, recorder] = rig;
  db.set_hanging(true);
  rig.record(polls(0, 10));
  recorder->request_stop(Recorder::Clock::now() + 10s);
  db.set_hanging(false);
  recorder->finish();
  EXPECT_EQ(recorder->counts(), (RecorderCounts{10, 0, 0, ""}));
  EXPECT_EQ(db.written(), polls(0, 10));
}

TEST(Recorder, StoppingInterruptsAWriteStillHangingAtTheDrainDeadline) {
  Rig rig;
  auto& [db, lines, recorder] = rig;
  db.set_hanging(true);
  rig.record(polls(0, 10));
  ASSERT_TRUE(eventually([&] { return db.opens() == 1; }));
  const auto t0 = Recorder::Clock::now();
  recorder->request_stop(t0 + 200ms);
  recorder->finish();
  EXPECT_LT(Recorder::Clock::now() - t0, 1s);
  EXPECT_EQ(recorder->counts(), (RecorderCounts{0, 10, 0, ""}));
  EXPECT_EQ(lines.text(), "") << "stopping is no failure to report";
}

// Nodes found while recording (a group that appeared): their tags are
// registered before any poll that holds their values is written, however
// the database fares meanwhile.
TEST(Recorder, NodesFoundLaterAreRegisteredBeforeThePollsHoldingThem) {
  const std::vector<std::string> first{"2:G.A", "2:G.B"};
  const std::vector<std::string> more{"2:H.A", "2:H.B"};
  std::vector<std::string> all = first;
  all.insert(all.end(), more.begin(), more.end());
  enum class Then { kUp, kDown, kRegistrationFails };
  const struct {
    const char* name;
    Then then;
    std::vector<std::vector<std::string>> registrations;
    int pauses;
  } cases[] = {
      {"the database up", Then::kUp, {first, more}, 0},
      {"the database down when they come", Then::kDown, {first, all}, 1},
      {"their registration fails", Then::kRegistrationFails, {first, all}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    auto& [db, lines, recorder] = rig;
    rig.record(polls(0, 3));
    ASSERT_TRUE(rig.recorded(3));
    if (c.then == Then::kDown) db.set_up(false);
    if (c.then == Then::kRegistrationFails) db.set_add_failing(true);
    recorder->add(more, 3600);
    rig.record(polls(3, 8, 4));
    if (c.then == Then::kDown) {
      ASSERT_TRUE(eventually([&] { return lines.count(kPaused) == 1; }));
      rig.record(polls(8, 10, 4));
      db.set_up(true);
    } else {
      rig.record(polls(8, 10, 4));
    }
    ASSERT_TRUE(rig.recorded(10)) << lines.text();
    recorder->finish();

    auto expected = polls(0, 3);
    const auto wider = polls(3, 10, 4);
    expected.insert(expected.end(), wider.begin(), wider.end());
    EXPECT_EQ(db.written(), expected);
    EXPECT_EQ(db.unregistered_values(), 0);
    EXPECT_EQ(db.registrations(), c.registrations);
    EXPECT_EQ(lines.count(kPaused), c.pauses) << lines.text();
    EXPECT_EQ(lines.count(kResumed), c.pauses) << lines.text();
  }
}

TEST(Recorder, ABoundLoweredForMoreNodesDropsTheOldestPollsWaiting) {
  Rig rig(3600, false);
  auto& [db, lines, recorder] = rig;
  rig.record(polls(0, 10));
  recorder->add({"2:H.A"}, 4);
  EXPECT_EQ(recorder->counts().dropped, 6u);
  rig.record(polls(10, 12, 3));
  db.set_up(true);
  ASSERT_TRUE(rig.recorded(4));
  recorder->finish();
  auto expected = polls(8, 10);
  const auto wider = polls(10, 12, 3);
  expected.insert(expected.end(), wider.begin(), wider.end());
  EXPECT_EQ(db.written(), expected);
  EXPECT_EQ(recorder->counts(), (RecorderCounts{4, 0, 8, ""}));
  EXPECT_EQ(lines.count(kDropped), 1) << lines.text();
}

}  // namespace
}  // namespace varnok::tessaly
