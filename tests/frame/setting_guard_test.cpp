#include "varnok/frame/setting_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "corvex/messages.h"

namespace varnok::frame {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Catches the frame's lines for the lifetime of the test.
class SettingGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvex::set_message_sink([this](const std::string& line) { lines.push_back(line); });
  }
  void TearDown() override { corvex::set_message_sink({}); }

  // One period: the writes, admission, and the map taken as in force.
  void period(const corvex::ValueMap& writes) {
    for (const auto& [tag, value] : writes) data.set(tag, value);
    guard.admit(data, ++count);
    guard.note(data);
  }

  corvex::ValueMap data{{"MV1", 29}, {"PID_TI", 28}, {"MV1_LO", 0.0}, {"MV1_HI", 100.0}, {"SW", 0.0}};
  SettingGuard guard{
      join({values({"MV1"}), divisors({"PID_TI"}), limits("MV1_LO", "MV1_HI"), switches({"SW"})}), data};
  std::vector<std::string> lines;
  std::int64_t count = 0;
};

TEST_F(SettingGuardTest, RefusedWriteIsPutBackWithOneLinePerEpisode) {
  period({{"MV1", kNaN}});
  period({{"MV1", kNaN}});
  period({{"MV1", std::numeric_limits<double>::infinity()}});
  EXPECT_EQ(data.at("MV1"), corvex::Value(29));
  EXPECT_TRUE(data.at("MV1").is_integer());  // the value in force, kind and all
  ASSERT_EQ(lines, std::vector<std::string>{
                       "MV1 = nan refused in period 1: not a finite number; 29 stays in force"});

  period({});  // nothing written: the episode ends
  period({{"MV1", kNaN}});
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "MV1 = nan refused in period 5: not a finite number; 29 stays in force");
}

TEST_F(SettingGuardTest, ValuesBeyondTheMagnitudeRuleAreRefused) {
  struct Case {
    const char* tag;
    double value;
    const char* why;
  };
  for (const Case& c :
       {Case{"MV1", 1.0000001e50, "magnitude above 1e+50"}, Case{"MV1", -1e308, "magnitude above 1e+50"},
        Case{"PID_TI", 1e-51, "positive but below 1e-50, so its action would overflow"},
        Case{"SW", -std::numeric_limits<double>::infinity(), "not a finite number"}}) {
    lines.clear();
    period({{c.tag, c.value}});
    period({});
    ASSERT_EQ(lines.size(), 1u) << c.tag << " " << c.value;
    EXPECT_NE(lines[0].find(std::string(": ") + c.why + ";"), std::string::npos) << lines[0];
  }
  EXPECT_EQ(data.at("MV1"), corvex::Value(29));
  EXPECT_EQ(data.at("PID_TI"), corvex::Value(28));
  EXPECT_EQ(data.at("SW"), corvex::Value(0.0));
}

TEST_F(SettingGuardTest, CrossedLimitsRefuseTheSideThatWasWritten) {
  struct Case {
    double low;  // NaN: not written
    double high;
    double low_after;
    double high_after;
    std::size_t lines;
  };
  for (const Case& c : {
           Case{200.0, kNaN, 0.0, 100.0, 1},     // low above the high in force
           Case{kNaN, -5.0, 0.0, 100.0, 1},      // high below the low in force
           Case{200.0, 300.0, 200.0, 300.0, 0},  // moved together: in order
           Case{50.0, 40.0, 0.0, 100.0, 2},      // both written, crossed
       }) {
    lines.clear();
    data.set("MV1_LO", 0.0);
    data.set("MV1_HI", 100.0);
    period({});
    corvex::ValueMap writes;
    if (!std::isnan(c.low)) writes.set("MV1_LO", c.low);
    if (!std::isnan(c.high)) writes.set("MV1_HI", c.high);
    period(writes);
    EXPECT_EQ(data.at("MV1_LO"), corvex::Value(c.low_after)) << c.low << ", " << c.high;
    EXPECT_EQ(data.at("MV1_HI"), corvex::Value(c.high_after)) << c.low << ", " << c.high;
    EXPECT_EQ(lines.size(), c.lines) << c.low << ", " << c.high;
  }
  lines.clear();
  period({});  // the last case's episode ends
  period({{"MV1_LO", 200.0}});
  EXPECT_EQ(lines, std::vector<std::string>{
                       "MV1_LO = 200.0 refused in period 10: above MV1_HI (100.0); 0.0 stays in force"});
}

TEST_F(SettingGuardTest, CrossingIsJudgedAgainstTheValueInForceOfARefusedPartner) {
  period({{"MV1_LO", kNaN}, {"MV1_HI", -5.0}});
  EXPECT_EQ(data.at("MV1_LO"), corvex::Value(0.0));
  EXPECT_EQ(data.at("MV1_HI"), corvex::Value(100.0));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "MV1_HI = -5.0 refused in period 1: below MV1_LO (0.0); 100.0 stays in force");
}

TEST_F(SettingGuardTest, ThePlantsOwnValueIsNeverRefused) {
  data.set("MV1", 3e60);  // as a plant writing its output into a setting
  guard.note(data);
  period({});
  EXPECT_EQ(data.at("MV1"), corvex::Value(3e60));
  EXPECT_TRUE(lines.empty());
}

TEST(SettingGuard, FindsEachSettingWhereverAMapKeepsIt) {
  SettingGuard guard(values({"A", "B"}), corvex::ValueMap{{"A", 1.0}, {"B", 2.0}});
  corvex::ValueMap same{{"A", kNaN}, {"B", 2.0}};
  corvex::ValueMap reordered{{"X", 0.0}, {"B", kNaN}, {"A", 1.0}};
  corvex::set_message_sink([](const std::string&) {});
  guard.admit(same, 1);
  guard.admit(reordered, 2);
  corvex::set_message_sink({});
  EXPECT_EQ(same.at("A"), corvex::Value(1.0));
  EXPECT_EQ(reordered.at("B"), corvex::Value(2.0));
  EXPECT_EQ(reordered.at("X"), corvex::Value(0.0));
}

TEST(SettingGuard, DeclarationsThatDoNotFitTheTagSetFailAtConstruction) {
  const corvex::ValueMap initial{{"MV1", 29}, {"LO", 0.0}, {"HI", 100.0}, {"BAD", kNaN}, {"HUGE", 1e60}};
  struct Case {
    SettingRules rules;
    const char* message;
  };
  for (const Case& c : {
           Case{values({"MV2"}), "setting \"MV2\": not a tag of the plant"},
           Case{join({values({"MV1"}), divisors({"MV1"})}), "setting \"MV1\": declared twice"},
           Case{values({"BAD"}), "setting \"BAD\": initial value nan refused: not a finite number"},
           Case{values({"HUGE"}), "setting \"HUGE\": initial value 1e+60 refused: magnitude above 1e+50"},
           Case{limits("HI", "LO"), "setting \"HI\": initial value 100.0 above LO (0.0)"},
           Case{{{"LO", SettingKind::kLowLimit, "MV1"}, {"MV1", SettingKind::kValue, {}}},
                "setting \"LO\": limit without its partner \"MV1\""},
       }) {
    try {
      SettingGuard guard(c.rules, initial);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace varnok::frame
