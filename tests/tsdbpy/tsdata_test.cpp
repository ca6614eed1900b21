// Writing and reading recorded values.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using tsdbpy::tsdata::read_tsdata;
using tsdbpy::tsdata::TimePoint;
using tsdbpy::tsdata::write_tsdata;

constexpr TimePoint kEver = TimePoint::min();
constexpr TimePoint kNever = TimePoint::max();

class Tsdata : public DbTest {
 protected:
  // `n` new tags, ids in creation order.
  std::vector<int> make_tags(int n) {
    std::vector<int> ids;
    for (int i = 0; i < n; ++i) {
      tsdbpy::tag::TagInfo tag{.tag_name = "tag" + std::to_string(next_tag_++)};
      EXPECT_TRUE(tsdbpy::tag::insert_new_tag(conn_, tag).ok);
      ids.push_back(tag.tag_id.value_or(0));
    }
    return ids;
  }
  std::string rows() const { return query("SELECT count(*) FROM tsdata"); }

  int next_tag_ = 0;
};

TEST_F(Tsdata, BatchesOf1And30And1000AreEachStoredByOneStatement) {
  for (const int n : {1, 30, 1000}) {
    const auto ids = make_tags(n);
    std::vector<double> values;
    for (int i = 0; i < n; ++i) values.push_back(n + i * 0.25);
    const auto result = write_tsdata(conn_, ids, values);
    ASSERT_TRUE(result.ok) << result.error;

    std::ostringstream where;
    where << " FROM tsdata WHERE tag_id BETWEEN " << ids.front() << " AND " << ids.back();
    EXPECT_EQ(query("SELECT count(*)" + where.str()), std::to_string(n));
    // One statement means one transaction, hence one server time stamp.
    EXPECT_EQ(query("SELECT count(DISTINCT ts)" + where.str()), "1");
    // Each value sits with its own tag.
    EXPECT_EQ(query("SELECT count(*)" + where.str() + " AND value <> " + std::to_string(n) + " + (tag_id - " +
                    std::to_string(ids.front()) + ") * 0.25"),
              "0");
  }
}

TEST_F(Tsdata, ATagNamedTwiceInABatchWithoutTimeStampsKeepsBothValues) {
  // Unlike the timed call, nothing is skipped: both rows share the batch's stamp.
  const auto ids = make_tags(2);
  const std::vector<int> twice = {ids[0], ids[1], ids[0]};
  ASSERT_TRUE(write_tsdata(conn_, twice, std::vector<double>{1, 2, 3}).ok);
  EXPECT_EQ(rows(), "3");
  EXPECT_EQ(query("SELECT count(DISTINCT ts) FROM tsdata"), "1");
  EXPECT_EQ(query("SELECT string_agg(value::text, ',' ORDER BY value) FROM tsdata WHERE tag_id = " +
                  std::to_string(ids[0])),
            "1,3");
}

TEST_F(Tsdata, NonFiniteAndExtremeValuesComeBackBitForBit) {
  const std::vector<double> values = {
      std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      -0.0,
      std::numeric_limits<double>::denorm_min(),
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
      0.1,
      1.0 / 3.0,
      1.0 + std::numeric_limits<double>::epsilon(),
  };
  const auto ids = make_tags(static_cast<int>(values.size()));
  ASSERT_TRUE(write_tsdata(conn_, ids, values).ok);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto back = read_tsdata(conn_, ids[i], kEver, kNever);
    ASSERT_EQ(back.size(), 1u);
    if (std::isnan(values[i])) {
      EXPECT_TRUE(std::isnan(back[0].value));
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(back[0].value), std::bit_cast<std::uint64_t>(values[i]))
          << values[i];
    }
  }
}

TEST_F(Tsdata, MismatchedLengthsAreRefusedWithoutTouchingTheDatabase) {
  const auto ids = make_tags(2);
  const std::vector<double> three = {1, 2, 3};
  const auto result = write_tsdata(conn_, ids, three);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("2 tag ids and 3 values"));
  EXPECT_EQ(rows(), "0");

  conn_.close();  // the refusal needs no server
  EXPECT_THAT(write_tsdata(conn_, ids, three).error, HasSubstr("2 tag ids and 3 values"));
}

TEST_F(Tsdata, UnknownTagIdFailsTheWholeBatchAndTheConnectionLivesOn) {
  const auto ids = make_tags(2);
  const std::vector<int> with_unknown = {ids[0], 999999, ids[1]};
  const std::vector<double> values = {1, 2, 3};
  const auto result = write_tsdata(conn_, with_unknown, values);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("no tag has id 999999"));
  EXPECT_EQ(rows(), "0");
  EXPECT_TRUE(conn_);
  EXPECT_TRUE(write_tsdata(conn_, ids, std::vector<double>{1, 2}).ok);
  EXPECT_EQ(rows(), "2");
}

TEST_F(Tsdata, EmptyBatchIsOkAndStoresNothing) {
  EXPECT_TRUE(write_tsdata(conn_, std::vector<int>{}, std::vector<double>{}).ok);
  EXPECT_EQ(rows(), "0");
}

TEST_F(Tsdata, ReadReturnsOneTagsValuesInTheHalfOpenRangeOldestFirst) {
  const auto ids = make_tags(2);
  for (const double v : {10.0, 20.0, 30.0}) {
    ASSERT_TRUE(write_tsdata(conn_, ids, std::vector<double>{v, -v}).ok);
    std::this_thread::sleep_for(5ms);  // distinct server time stamps
  }
  const auto all = read_tsdata(conn_, ids[0], kEver, kNever);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].value, 10.0);
  EXPECT_EQ(all[1].value, 20.0);
  EXPECT_EQ(all[2].value, 30.0);
  EXPECT_LT(all[0].ts, all[1].ts);
  EXPECT_LT(all[1].ts, all[2].ts);
  const auto now = std::chrono::system_clock::now();
  EXPECT_LT(std::chrono::abs(all[2].ts - now), 60s) << "time stamps are the server's clock";

  const auto middle = read_tsdata(conn_, ids[0], all[1].ts, all[2].ts);
  ASSERT_EQ(middle.size(), 1u);
  EXPECT_EQ(middle[0].value, 20.0);
  EXPECT_EQ(middle[0].ts, all[1].ts);
  // A bound a nanosecond past a stamp excludes it as "from", includes it as "to".
  EXPECT_EQ(read_tsdata(conn_, ids[0], all[1].ts + 1ns, kNever).size(), 1u);
  EXPECT_EQ(read_tsdata(conn_, ids[0], kEver, all[1].ts + 1ns).size(), 2u);
  EXPECT_TRUE(read_tsdata(conn_, ids[0], all[2].ts, all[0].ts).empty());
  EXPECT_EQ(read_tsdata(conn_, ids[1], kEver, kNever).back().value, -30.0);
}

// Polls of `tags` taken `step` apart from `start`: value = poll + tag / 100.
struct Polls {
  std::vector<TimePoint> ts;
  std::vector<int> tag_ids;
  std::vector<double> values;
};
Polls polls(const std::vector<int>& tags, int count, TimePoint start, std::chrono::microseconds step,
            int first = 0) {
  Polls out;
  for (int poll = first; poll < first + count; ++poll) {
    for (std::size_t t = 0; t < tags.size(); ++t) {
      out.ts.push_back(start + poll * step);
      out.tag_ids.push_back(tags[t]);
      out.values.push_back(poll + static_cast<double>(t) / 100);
    }
  }
  return out;
}

TEST_F(Tsdata, TimedBatchKeepsEveryValuesOwnTimeStampRoundedUpToTheMicrosecond) {
  const auto ids = make_tags(2);
  const TimePoint start = std::chrono::system_clock::now() - 1h + 250ns;  // not on a microsecond
  const auto batch = polls(ids, 3, start, 1s);
  const auto result = write_tsdata(conn_, batch.ts, batch.tag_ids, batch.values);
  ASSERT_TRUE(result.ok) << result.error;
  for (std::size_t t = 0; t < ids.size(); ++t) {
    const auto back = read_tsdata(conn_, ids[t], kEver, kNever);
    ASSERT_EQ(back.size(), 3u);
    for (int poll = 0; poll < 3; ++poll) {
      EXPECT_EQ(back[poll].ts, std::chrono::ceil<std::chrono::microseconds>(start + poll * 1s));
      EXPECT_EQ(back[poll].value, poll + static_cast<double>(t) / 100);
    }
  }
}

TEST_F(Tsdata, ATimedBatchSentAgainIsStoredOnceAndOnlyItsNewValuesAreAdded) {
  const auto ids = make_tags(3);
  const TimePoint start = std::chrono::system_clock::now();
  const auto first = polls(ids, 4, start, 200ms);
  ASSERT_TRUE(write_tsdata(conn_, first.ts, first.tag_ids, first.values).ok);
  ASSERT_TRUE(write_tsdata(conn_, first.ts, first.tag_ids, first.values).ok);
  EXPECT_EQ(rows(), "12");
  // The last two polls again, with two new ones after them.
  const auto overlapping = polls(ids, 4, start, 200ms, 2);
  ASSERT_TRUE(write_tsdata(conn_, overlapping.ts, overlapping.tag_ids, overlapping.values).ok);
  EXPECT_EQ(rows(), "18");
  EXPECT_EQ(query("SELECT count(DISTINCT ts) FROM tsdata"), "6");
}

TEST_F(Tsdata, AnHourOfPollsOfAThirtyTagGroupGoesInOneCall) {
  const auto ids = make_tags(30);
  const auto backlog = polls(ids, 3600, std::chrono::system_clock::now() - 2h, 1s);
  const auto result = write_tsdata(conn_, backlog.ts, backlog.tag_ids, backlog.values);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(rows(), std::to_string(3600 * 30));
}

TEST_F(Tsdata, TimedBatchWithMismatchedLengthsIsRefusedWithoutTouchingTheDatabase) {
  const auto ids = make_tags(2);
  const std::vector<TimePoint> one_stamp = {std::chrono::system_clock::now()};
  const auto result = write_tsdata(conn_, one_stamp, ids, std::vector<double>{1, 2});
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("1 time stamps, 2 tag ids and 2 values"));
  EXPECT_EQ(rows(), "0");
}

}  // namespace
}  // namespace tsdbpy_testing
