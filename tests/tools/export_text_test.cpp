// varnok-export's parts without a database: the time parser and printer,
// the CSV table, the choice of columns.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include "columns.h"
#include "csv_table.h"
#include "time_text.h"
#include "varnok/errors.h"

namespace varnok::exporting {
namespace {

using namespace std::chrono;
using ::testing::HasSubstr;

// 2026-12-09 21:45:03 UTC plus `extra`.
TimePoint utc(system_clock::duration extra = {}) {
  return TimePoint(sys_days(2026y / December / 9) + 21h + 45min + 3s + extra);
}

// Local times are read in a zone five hours behind UTC, without summer time.
class TimeText : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "EST5", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(TimeText, AcceptedFormsGiveTheirInstant) {
  const TimePoint now = utc(123456us);
  const struct {
    const char* text;
    TimePoint expected;
  } cases[] = {
      {"2026-12-09T21:45:03Z", utc()},
      {"2026-12-09t21:45:03.5z", utc(500ms)},
      {"2026-12-09T21:45:03.123456789Z", utc(123456789ns)},
      {"2026-12-09T22:45:03,25+01:00", utc(250ms)},
      {"2026-12-09T19:15:03-0230", utc()},
      {"2026-12-10T00:45:03+03", utc()},
      {"2026-12-09 16:45:03", utc()},  // local
      {"2026-12-09T16:45", utc(-3s)},
      {"2026-12-09", utc(-16h - 45min - 3s)},  // local midnight
      {"2024-02-29T00:00Z", TimePoint(sys_days(2024y / February / 29))},
      {"now", now},
      {"-30s", now - 30s},
      {"-10min", now - 10min},
      {"-2h", now - 2h},
      {"-1d", now - 24h},
      {"-1.5h", now - 90min},
      {"-0s", now},
      {"-36600d", now - 36600 * 24h},
      {"1700-01-01T00:00Z", TimePoint(sys_days(1700y / January / 1))},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_time(c.text, now, "--from"), c.expected) << c.text;
  }
}

TEST_F(TimeText, RefusedFormsNameTheOptionAndTheText) {
  for (const char* text : {"",
                           "yesterday",
                           "2026-13-01",
                           "2026-02-29",
                           "2026-12-9",
                           "2026-12-09T24:00",
                           "2026-12-09T21:60",
                           "2026-12-09T21:45:60",
                           "2026-12-09T21",
                           "2026-12-09T21:45:03.",
                           "2026-12-09T21:45:03.1234567891Z",
                           "2026-12-09Z",
                           "2026-12-09T21:45:03+24:00",
                           "2026-12-09T21:45:03 Z",
                           "2026-12-09T21:45:03Zx",
                           "-10",
                           "-10m",
                           "-10 min",
                           "+10min",
                           "--10min",
                           "-min",
                           "-.s",
                           "-infs",
                           "-nanh",
                           "-1e3s",
                           "-1000000d"}) {
    try {
      parse_time(text, utc(), "--to");
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const UsageError& e) {
      EXPECT_THAT(e.what(), HasSubstr(std::string("--to: \"") + text + "\" is not a time")) << text;
    }
  }
}

TEST_F(TimeText, PrintedInUtcWithMillisecondsOrAllMicrosecondsAndReadBack) {
  const struct {
    TimePoint t;
    const char* text;
  } cases[] = {
      {utc(120ms), "2026-12-09T21:45:03.120Z"},          {utc(), "2026-12-09T21:45:03.000Z"},
      {utc(120456us), "2026-12-09T21:45:03.120456Z"},    {utc(1us), "2026-12-09T21:45:03.000001Z"},
      {utc(120456789ns), "2026-12-09T21:45:03.120456Z"}, {TimePoint(-1ms), "1969-12-31T23:59:59.999Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(time_text(c.t), c.text);
    EXPECT_EQ(parse_time(c.text, {}, "--from"), floor<microseconds>(c.t)) << c.text;
  }
}

std::string table(Shape shape, std::vector<std::string> columns,
                  std::initializer_list<std::tuple<TimePoint, std::size_t, double>> values) {
  std::ostringstream out;
  CsvTable csv(out, std::move(columns), shape);
  for (const auto& [ts, column, value] : values) csv.add(ts, column, value);
  csv.finish();
  return out.str();
}

TEST(CsvTable, WideHasOneLinePerTimeStampWithEmptyCellsForMissingValues) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(table(Shape::kWide, {"PV", "MV"},
                  {{utc(), 1, 0.1}, {utc(), 0, -2.5}, {utc(1us), 0, 1e300}, {utc(1ms), 1, inf}}),
            "time,PV,MV\n"
            "2026-12-09T21:45:03.000Z,-2.5,0.1\n"
            "2026-12-09T21:45:03.000001Z,1e+300,\n"
            "2026-12-09T21:45:03.001Z,,inf\n");
  // A second value of a tag at the same time stamp is not lost.
  EXPECT_EQ(table(Shape::kWide, {"PV"}, {{utc(), 0, 1}, {utc(), 0, 2}}),
            "time,PV\n2026-12-09T21:45:03.000Z,1\n2026-12-09T21:45:03.000Z,2\n");
  EXPECT_EQ(table(Shape::kWide, {"PV", "a,\"b\""}, {}), "time,PV,\"a,\"\"b\"\"\"\n");
}

TEST(CsvTable, LongHasOneLinePerValueByTimeThenColumnOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(table(Shape::kLong, {"PV", "MV"}, {{utc(), 1, -nan}, {utc(), 0, -0.0}, {utc(2ms), 1, -1.0 / 3}}),
            "time,tag,value\n"
            "2026-12-09T21:45:03.000Z,PV,-0\n"
            "2026-12-09T21:45:03.000Z,MV,nan\n"
            "2026-12-09T21:45:03.002Z,MV,-0.3333333333333333\n");
  EXPECT_EQ(table(Shape::kLong, {"PV"}, {}), "time,tag,value\n");
}

TEST(Columns, AllOfTheGroupInRecordingOrderOrTheWantedInTheirOrder) {
  const std::vector<tsdbpy::tag::TagInfo> recorded = {{.tag_name = "2:S1.PV", .tag_id = 4},
                                                      {.tag_name = "2:S1.MV", .tag_id = 7},
                                                      {.tag_name = "2:S1.SP", .tag_id = 9}};
  const auto names = [](const std::vector<Column>& columns) {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& c : columns) out.emplace_back(c.name, c.tag_id);
    return out;
  };
  using Pairs = std::vector<std::pair<std::string, int>>;
  EXPECT_EQ(names(choose_columns("S1", recorded, {})), (Pairs{{"PV", 4}, {"MV", 7}, {"SP", 9}}));
  EXPECT_EQ(names(choose_columns("S1", recorded, {"SP", "PV"})), (Pairs{{"SP", 9}, {"PV", 4}}));
  EXPECT_EQ(group_prefix("S1"), "2:S1.");

  const struct {
    const char* group;
    std::vector<std::string> wanted;
    const char* message;
  } refused[] = {
      {"S2", {}, "group \"S2\" has no recorded tags"},
      {"S2", {"PV"}, "group \"S2\" has no recorded tags"},
      {"S1", {"PV", "XX"}, "tag \"XX\" was never recorded in group \"S1\""},
  };
  for (const auto& r : refused) {
    try {
      choose_columns(r.group, recorded, r.wanted);
      ADD_FAILURE() << r.message;
    } catch (const UsageError& e) {
      EXPECT_STREQ(e.what(), r.message);
    }
  }
}

TEST(Columns, TagListsAreSplitAtCommasAndRefuseEmptyOrRepeatedNames) {
  EXPECT_EQ(parse_tag_list("PV"), (std::vector<std::string>{"PV"}));
  EXPECT_EQ(parse_tag_list("SP,PV,MV"), (std::vector<std::string>{"SP", "PV", "MV"}));
  for (const char* text : {",", "PV,", ",PV", "PV,,MV", "PV,MV,PV"}) {
    EXPECT_THROW(parse_tag_list(text), UsageError) << text;
  }
}

}  // namespace
}  // namespace varnok::exporting
