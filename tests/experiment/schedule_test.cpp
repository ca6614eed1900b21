#include "varnok/experiment/schedule.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace varnok::experiment {
namespace {

// Runs a schedule against tags that hold what was last written to them;
// every value in force it reads must be one tags_needed announced.
struct ScheduledRun {
  std::map<std::string, double> values;
  std::vector<std::vector<Write>> writes;  // [period - 1]
  std::vector<std::string> asked;          // "period:tag"

  ScheduledRun(const std::string& text, std::map<std::string, double> start) : values(std::move(start)) {
    const Experiment e = parse_experiment(text, "s.yaml");
    Schedule schedule(e);
    for (std::int64_t period = 1; period <= e.periods; ++period) {
      std::vector<std::string> read;
      writes.push_back(schedule.writes_before(period, [&](std::string_view tag) {
        read.emplace_back(tag);
        return values.at(std::string(tag));
      }));
      EXPECT_EQ(read, schedule.tags_needed(period)) << period;
      for (const auto& tag : read) asked.push_back(std::to_string(period) + ":" + tag);
      for (const auto& write : writes.back()) values[write.tag] = write.value;
    }
  }
};

std::string prbs_file(int seed) {
  return "periods: 100\nrecord: [MV1]\nactions:\n  - {at: 11, prbs: {tag: MV1, amplitude: 0.75, min_hold: 4, "
         "periods: 60, seed: " +
         std::to_string(seed) + "}}\n";
}

TEST(Schedule, PrbsHoldsWholeMultiplesOfMinHoldAtExactLevelsThenRestores) {
  const double v0 = 12.3;
  const ScheduledRun run(prbs_file(7), {{"MV1", v0}});
  std::set<double> levels;
  std::size_t last_change = 11;
  for (std::size_t period = 1; period <= 100; ++period) {
    const auto& writes = run.writes[period - 1];
    if (writes.empty()) continue;
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_TRUE(period >= 11 && period <= 71) << period;
    EXPECT_EQ((period - last_change) % 4, 0u) << period;
    last_change = period;
    if (period < 71) levels.insert(writes[0].value);
  }
  EXPECT_EQ(last_change, 71u);
  EXPECT_EQ(run.values.at("MV1"), v0);
  EXPECT_EQ(levels, (std::set<double>{v0 - 0.75, v0 + 0.75}));
  EXPECT_EQ(run.asked, std::vector<std::string>{"11:MV1"});
}

TEST(Schedule, PrbsIsReproducibleFromItsSeed) {
  const auto sequence = [](int seed) {
    std::vector<std::pair<std::size_t, double>> out;
    const ScheduledRun run(prbs_file(seed), {{"MV1", 0.0}});
    for (std::size_t k = 0; k < run.writes.size(); ++k) {
      for (const auto& w : run.writes[k]) out.emplace_back(k, w.value);
    }
    return out;
  };
  EXPECT_EQ(sequence(7), sequence(7));
  EXPECT_NE(sequence(7), sequence(8));
}

TEST(Schedule, RampAndStepStartFromTheValueInForceWhenTheyStart) {
  // The ramp's own writes move SP1; it keeps the value it started from.
  const ScheduledRun run(R"(periods: 6
record: [SP1]
actions:
  - {at: 3, step: {MV1: 0.5}}
  - {at: 2, ramp: {tag: SP1, to: 0.7, periods: 3}}
  - {at: 2, set: {MV1: 5}}
)",
                         {{"SP1", 0.1}, {"MV1", 1.0}});
  const auto at = [&](std::size_t period) { return run.writes[period - 1]; };
  ASSERT_EQ(at(2).size(), 2u);
  EXPECT_EQ(at(2)[0].tag, "SP1");  // in the file's order within a period
  EXPECT_EQ(at(2)[0].value, 0.1 + (0.7 - 0.1) * 1 / 3);
  ASSERT_EQ(at(3).size(), 2u);
  EXPECT_EQ(at(3)[0].value, 0.1 + (0.7 - 0.1) * 2 / 3);
  EXPECT_EQ(at(3)[1].value, 5.5);
  ASSERT_EQ(at(4).size(), 1u);
  EXPECT_EQ(at(4)[0].value, 0.7);  // exactly `to`
  EXPECT_TRUE(at(5).empty());
  EXPECT_EQ(run.asked, (std::vector<std::string>{"2:SP1", "3:MV1"}));
}

}  // namespace
}  // namespace varnok::experiment
