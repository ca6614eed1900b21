// Reading many tags of a range through a cursor, and finding a group's tags.

#include <chrono>
#include <stdexcept>
#include <vector>

#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace std::chrono_literals;
using tsdbpy::tsdata::Row;
using tsdbpy::tsdata::scan_tsdata;
using tsdbpy::tsdata::TimePoint;

class Scan : public DbTest {
 protected:
  int make_tag(const std::string& name) {
    tsdbpy::tag::TagInfo tag{.tag_name = name};
    EXPECT_TRUE(tsdbpy::tag::insert_new_tag(conn_, tag).ok);
    return tag.tag_id.value_or(0);
  }
  // Every batch as it came.
  std::vector<std::vector<Row>> scan(const std::vector<int>& ids, TimePoint from, TimePoint to,
                                     int batch_rows) {
    std::vector<std::vector<Row>> batches;
    scan_tsdata(
        conn_, ids, from, to,
        [&](std::span<const Row> rows) { batches.emplace_back(rows.begin(), rows.end()); }, batch_rows);
    return batches;
  }
};

TEST_F(Scan, ChosenTagsOfAHalfOpenRangeComeOrderedByTimeThenTagInBoundedBatches) {
  const int a = make_tag("a");
  const int b = make_tag("b");
  const int other = make_tag("other");
  const TimePoint start =
      std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now() - 1h);
  // Six polls; b is missing from poll 3. Written newest first and b before a,
  // so the order comes from the scan, not from the insertion.
  std::vector<TimePoint> ts;
  std::vector<int> ids;
  std::vector<double> values;
  for (int poll = 5; poll >= 0; --poll) {
    for (const int id : {b, other, a}) {
      if (id == b && poll == 3) continue;
      ts.push_back(start + poll * 1ms);
      ids.push_back(id);
      values.push_back(poll * 10 + id);
    }
  }
  ASSERT_TRUE(tsdbpy::tsdata::write_tsdata(conn_, ts, ids, values).ok);

  // Polls 1..4 of a and b: 7 rows, in batches of 3, 3 and 1.
  const auto batches = scan({b, a}, start + 1ms, start + 5ms, 3);
  std::vector<Row> rows;
  for (const auto& batch : batches) {
    EXPECT_LE(batch.size(), 3u);
    rows.insert(rows.end(), batch.begin(), batch.end());
  }
  EXPECT_EQ(batches.size(), 3u);
  std::vector<std::pair<int, int>> expected;  // (poll, tag)
  for (int poll = 1; poll <= 4; ++poll) {
    expected.emplace_back(poll, a);
    if (poll != 3) expected.emplace_back(poll, b);
  }
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto [poll, tag] = expected[i];
    EXPECT_EQ(rows[i].tag_id, tag) << i;
    EXPECT_EQ(rows[i].ts, start + poll * 1ms) << i;
    EXPECT_EQ(rows[i].value, poll * 10 + tag) << i;
  }

  // A batch size that divides the rows exactly ends with an empty fetch.
  EXPECT_EQ(scan({a}, start, start + 6ms, 3).size(), 2u);
  EXPECT_TRUE(scan({a, b}, start + 2ms, start + 2ms, 3).empty());
  EXPECT_TRUE(scan({}, start, start + 1h, 3).empty());
}

TEST_F(Scan, AFailingConsumerEndsTheScanAndLeavesTheConnectionUsable) {
  const int a = make_tag("a");
  ASSERT_TRUE(tsdbpy::tsdata::write_tsdata(conn_, std::vector{a, a}, std::vector{1.0, 2.0}).ok);
  const auto throwing = [](std::span<const Row>) { throw std::runtime_error("consumer gave up"); };
  EXPECT_THROW(scan_tsdata(conn_, std::vector{a}, TimePoint::min(), TimePoint::max(), throwing),
               std::runtime_error);
  ASSERT_TRUE(conn_);
  // No transaction or cursor left behind: a second scan works.
  EXPECT_EQ(scan({a}, TimePoint::min(), TimePoint::max(), 10).at(0).size(), 2u);
  EXPECT_EQ(query("SELECT count(*) FROM pg_stat_activity WHERE state LIKE 'idle in transaction%'"), "0");
}

TEST_F(Scan, TagsStartingWithAPrefixTakeItLiterallyAndComeInTheOrderTheyWereStored) {
  const int z = make_tag("2:G_1.Z");
  make_tag("2:GX1.Y");  // '_' is no wildcard
  make_tag("2:G_10.W");
  const int a = make_tag("2:G_1.A");
  make_tag("2:G%.V");
  std::vector<int> found;
  for (const auto& tag : tsdbpy::tag::get_tags_starting_with(conn_, "2:G_1.")) found.push_back(*tag.tag_id);
  EXPECT_EQ(found, (std::vector{z, a}));
  EXPECT_EQ(tsdbpy::tag::get_tags_starting_with(conn_, "2:G%").size(), 1u);
  EXPECT_TRUE(tsdbpy::tag::get_tags_starting_with(conn_, "3:").empty());
}

}  // namespace
}  // namespace tsdbpy_testing
