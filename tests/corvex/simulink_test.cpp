#include "corvex/simulink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace corvex {
namespace {

class Counter : public Simulink {
 public:
  using Simulink::Simulink;
  void task() override { get_data().set("seen", get_task_count()); }
};

TEST(Simulink, RunTaskSetsTheCounterBeforeTheTask) {
  Counter model({{"seen", 0}}, {0.5});
  EXPECT_EQ(model.get_task_count(), 0);
  EXPECT_EQ(model.get_sampling_time(), 0.5);
  model.run_task(7);
  EXPECT_TRUE(model.get_data().at("seen").same_as(Value(std::int64_t{7})));
  EXPECT_EQ(model.get_task_count(), 7);
}

TEST(Simulink, RefusesNonPositiveSamplingTime) {
  try {
    Counter model({}, {-0.25});
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("-0.25"));
  }
}

}  // namespace
}  // namespace corvex
