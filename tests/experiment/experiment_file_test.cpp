#include "varnok/experiment/experiment_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bad_experiment_files.h"

namespace varnok::experiment {
namespace {

TEST(ExperimentFile, ReadsActionsInPeriodOrderKeepingFileOrderWithinAPeriod) {
  const Experiment e = parse_experiment(R"(description: two steps
periods: 50
record: [CV1, MV1]
actions:
  - {at: 30, prbs: {tag: MV1, amplitude: 0.5, min_hold: 2, periods: 10}}
  - {at: 10, step: {DV1: -5}}
  - {at: 10, set: {SP1: 3, SP2: 4}}
  - at: 12
    ramp: {tag: SP1, to: 35, periods: 4}
)",
                                        "e.yaml");
  std::vector<std::string> order;
  for (const auto& action : e.actions)
    order.push_back(std::string(action.kind()) + "@" + std::to_string(action.at));
  EXPECT_EQ(order, (std::vector<std::string>{"step@10", "set@10", "ramp@12", "prbs@30"}));
  EXPECT_EQ(e.actions[1].tags()[1].name, "SP2");
  EXPECT_EQ(e.actions[2].where.line, 8);
  EXPECT_EQ(e.actions[2].last_period(), 15);
  EXPECT_EQ(e.actions[3].last_period(), 40);  // where it writes v0 back
  EXPECT_EQ(std::get<Prbs>(e.actions[3].what).seed, kDefaultPrbsSeed);
}

TEST(ExperimentFile, RefusesEveryBadFileWithItsPosition) {
  for (const auto& bad : bad_experiment_files()) {
    SCOPED_TRACE(bad.what);
    try {
      parse_experiment(bad.text, "bad.yaml");
      ADD_FAILURE() << "accepted";
    } catch (const ExperimentFileError& e) {
      EXPECT_EQ(std::pair(e.line(), e.column()), std::pair(bad.line, bad.column)) << e.what();
      EXPECT_NE(e.reason().find(bad.says), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

TEST(ExperimentFile, AcceptsWritesThatOnlyTouch) {
  // A ramp ending the period before a set, and a PRBS's restore the period
  // before the next one starts, are no overlap.
  EXPECT_NO_THROW(
      parse_experiment(kHead + "  - {at: 3, ramp: {tag: MV1, to: 35, periods: 4}}\n"
                               "  - {at: 7, set: {MV1: 30}}\n"
                               "  - {at: 1, prbs: {tag: CV1, amplitude: 1, min_hold: 1, periods: 3}}\n"
                               "  - {at: 5, prbs: {tag: CV1, amplitude: 1, min_hold: 1, periods: 5}}\n",
                       "touch.yaml"));
}

}  // namespace
}  // namespace varnok::experiment
