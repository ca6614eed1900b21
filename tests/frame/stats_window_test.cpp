#include "varnok/frame/stats_window.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnok::frame {
namespace {

TEST(StatsWindow, EqualValuesGiveExactlyZero) {
  StatsWindow window;
  for (int i = 0; i < 5000; ++i) {
    window.append(31.123456789);
    ASSERT_EQ(window.population_std(), 0.0);
  }
}

TEST(StatsWindow, GrowsToCapacityThenDropsOldest) {
  StatsWindow window(3);
  window.append(1.0);
  EXPECT_EQ(window.population_std(), 0.0);
  window.append(3.0);
  EXPECT_DOUBLE_EQ(window.population_std(), 1.0);
  window.append(5.0);
  EXPECT_DOUBLE_EQ(window.population_std(), std::sqrt(8.0 / 3.0));
  window.append(5.0);  // drops 1: {3, 5, 5}
  EXPECT_EQ(window.size(), 3u);
  EXPECT_DOUBLE_EQ(window.population_std(), std::sqrt(8.0 / 9.0));
  window.append(5.0);
  window.append(5.0);
  EXPECT_EQ(window.population_std(), 0.0);
}

TEST(StatsWindow, NoDriftAfterManyPeriodsOfLargeValues) {
  // A running-sum implementation loses the small spread of large values.
  StatsWindow window;
  for (int i = 0; i < 1'000'000; ++i) window.append(1e9 + (i % 2 == 0 ? 0.5 : -0.5));
  EXPECT_NEAR(window.population_std(), 0.5, 1e-6);
}

}  // namespace
}  // namespace varnok::frame
