// varnok-record's lines: what it is about to do, and what became of the
// polls, with the reason whenever some were not recorded.

#include "record_text.h"

#include <gtest/gtest.h>

namespace varnok::record {
namespace {

using tessaly::RecorderCounts;
using tessaly::SessionCounts;

Plan recording(double seconds = 0) {
  return {"opc.tcp://localhost:22200", "S1", 1000, seconds,
          database_text("localhost", 22400, "tsdb_simulation")};
}

TEST(RecordText, TheStartLineSaysWhatIsRecordedFromWhereIntoWhere) {
  Plan no_db = recording(2.5);
  no_db.database.reset();
  Plan v6 = recording();
  v6.database = database_text("::1", 5432, "tsdb");
  Plan keeping = recording();
  keeping.keep_days = 30;
  const std::pair<Plan, std::string> cases[] = {
      {recording(),
       "varnok-record: recording group S1 of opc.tcp://localhost:22200 every 1000 ms into the database "
       "localhost:22400/tsdb_simulation, until Ctrl-C or SIGTERM"},
      {recording(60),
       "varnok-record: recording group S1 of opc.tcp://localhost:22200 every 1000 ms into the database "
       "localhost:22400/tsdb_simulation for 60 s"},
      {no_db,
       "varnok-record: polling group S1 of opc.tcp://localhost:22200 every 1000 ms for 2.5 s, not recording "
       "(--no-db)"},
      {v6,
       "varnok-record: recording group S1 of opc.tcp://localhost:22200 every 1000 ms into the database "
       "[::1]:5432/tsdb, until Ctrl-C or SIGTERM"},
      {keeping,
       "varnok-record: recording group S1 of opc.tcp://localhost:22200 every 1000 ms into the database "
       "localhost:22400/tsdb_simulation (keeping 30 days), until Ctrl-C or SIGTERM"},
  };
  for (const auto& [plan, line] : cases) EXPECT_EQ(start_line(plan), line);
}

TEST(RecordText, TheSummarySaysHowManyPollsWereNotRecordedAndWhy) {
  const std::string counts = "varnok-record: 30 nodes, 13 polls, ";
  struct Case {
    const char* name;
    std::uint64_t recorded;
    std::size_t queued;
    std::uint64_t dropped;
    const char* failure;
    std::string line;
  };
  const Case cases[] = {
      {"all recorded", 13, 0, 0, "", counts + "13 recorded, 0 not recorded (0 queued, 0 dropped)"},
      {"database down throughout", 0, 13, 0,
       "connection to server at \"localhost\" (::1), port 22400 failed: Connection refused\n\tIs the server "
       "running on that host and accepting TCP/IP connections?",
       counts +
           "0 recorded, 13 not recorded (13 queued, 0 dropped): the database localhost:22400/tsdb_simulation "
           "was not available (connection to server at \"localhost\" (::1), port 22400 failed: Connection "
           "refused)"},
      {"lost on the way, some dropped", 4, 6, 3, "timeout expired",
       counts + "4 recorded, 9 not recorded (6 queued, 3 dropped): the database "
                "localhost:22400/tsdb_simulation was not available (timeout expired)"},
      {"stopped before the database answered", 0, 13, 0, "",
       counts + "0 recorded, 13 not recorded (13 queued, 0 dropped): still waiting for the database "
                "localhost:22400/tsdb_simulation at the stop"},
      {"dropped in an outage that ended", 10, 0, 3, "",
       counts + "10 recorded, 3 not recorded (0 queued, 3 dropped): dropped while the database "
                "localhost:22400/tsdb_simulation was not available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RecorderCounts counts_of_case{c.recorded, c.queued, c.dropped, c.failure};
    EXPECT_EQ(summary(SessionCounts{30, 13, counts_of_case}, recording()), c.line);
  }
  Plan no_db = recording();
  no_db.database.reset();
  EXPECT_EQ(summary(SessionCounts{30, 13, std::nullopt}, no_db), counts + "nothing recorded (--no-db)");
}

TEST(RecordText, SeveralGroupsAreNamedAndCountedAndAllGroupsSayHowOftenTheyAreLookedFor) {
  Plan several = recording();
  several.more_groups = {"S2", "S3"};
  Plan all = recording(60);
  all.group.clear();
  all.all_groups = true;
  all.rescan_s = 5;
  Plan all_no_db = all;
  all_no_db.database.reset();
  const std::pair<Plan, std::string> lines[] = {
      {several,
       "varnok-record: recording groups S1, S2, S3 of opc.tcp://localhost:22200 every 1000 ms into the "
       "database "
       "localhost:22400/tsdb_simulation, until Ctrl-C or SIGTERM"},
      {all,
       "varnok-record: recording all groups of opc.tcp://localhost:22200 every 1000 ms into the database "
       "localhost:22400/tsdb_simulation for 60 s; looking for new groups every 5 s"},
      {all_no_db,
       "varnok-record: polling all groups of opc.tcp://localhost:22200 every 1000 ms for 60 s, not recording "
       "(--no-db); looking for new groups every 5 s"},
  };
  for (const auto& [plan, line] : lines) EXPECT_EQ(start_line(plan), line);

  const SessionCounts counts{90, 13, RecorderCounts{13, 0, 0, ""}, 3};
  EXPECT_EQ(summary(counts, several),
            "varnok-record: 3 groups, 90 nodes, 13 polls, 13 recorded, 0 not recorded (0 queued, 0 dropped)");
  EXPECT_EQ(summary(counts, recording()),
            "varnok-record: 90 nodes, 13 polls, 13 recorded, 0 not recorded (0 queued, 0 dropped)")
      << "one group: as it always was";
  EXPECT_EQ(summary(SessionCounts{0, 0, std::nullopt, 0}, all_no_db),
            "varnok-record: 0 groups, 0 nodes, 0 polls, nothing recorded (--no-db)");
}

}  // namespace
}  // namespace varnok::record
