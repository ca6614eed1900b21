#include "varnok/frame/stats_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <span>
#include <vector>

#include "varnok/frame/noise.h"

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

namespace varnok::frame {
namespace {

// The deviation of the window's values in two passes, as it was computed
// before the window kept sums: the reference.
double two_pass(const std::vector<double>& ring, std::size_t size) {
  return population_std(std::span<const double>(ring.data(), size));
}

struct Series {
  const char* what;
  std::size_t periods;
  std::function<double(std::size_t, NormalGenerator&)> value;
};

TEST(StatsWindow, WithinTwelveDigitsOfTwoPassAtEveryPeriod) {
  double walk = 0.0;
  const Series cases[] = {
      {"a plant's CV: a random walk with noise", 1'000'000,
       [&](std::size_t, NormalGenerator& g) { return 30.0 + (walk += 0.05 * g.next()) + g.next(); }},
      {"steps of 100 with noise of 1e-3", 200'000,
       [](std::size_t k, NormalGenerator& g) {
         return 100.0 * static_cast<double>(k / 1000 % 7) + 1e-3 * g.next();
       }},
      {"large values, small spread", 200'000,
       [](std::size_t k, NormalGenerator& g) { return 1e9 + (k % 2 == 0 ? 0.5 : -0.5) + 1e-6 * g.next(); }},
      {"equal values with a rare one apart", 200'000,
       [](std::size_t k, NormalGenerator&) { return k % 997 == 0 ? 31.5 + 1e-6 : 31.5; }},
  };
  for (const Series& series : cases) {
    SCOPED_TRACE(series.what);
    NormalGenerator g(7);
    StatsWindow window(StatsWindow::kTenMinutes);
    std::vector<double> ring(StatsWindow::kTenMinutes);
    std::size_t failures = 0;
    for (std::size_t k = 0; k < series.periods; ++k) {
      const double v = series.value(k, g);
      window.append(v);
      ring[k % ring.size()] = v;
      const double want = two_pass(ring, std::min(k + 1, ring.size()));
      const double got = window.population_std();
      const bool ok = want == 0.0 ? got == 0.0 : std::abs(got - want) <= 1e-12 * want;
      if (!ok && ++failures <= 3)
        ADD_FAILURE() << "period " << k << ": two-pass " << want << ", window " << got;
    }
    EXPECT_EQ(failures, 0u);
  }
}

TEST(StatsWindow, NoDriftOverAHundredMillionPeriods) {
  NormalGenerator g(11);
  StatsWindow window(StatsWindow::kTenMinutes);
  std::vector<double> ring(StatsWindow::kTenMinutes);
  double walk = 0.0;
  for (std::size_t k = 0; k < 100'000'000; ++k) {
    // A cheap stand-in for noise: the generator's draws cost more than the window.
    const double v =
        50.0 + (walk += (k % 3 == 0 ? 0.01 : -0.005)) + static_cast<double>(k * 2654435761u % 1000) * 1e-3;
    window.append(v);
    ring[k % ring.size()] = v;
    if (k % 1'000'000 == 999'999) {
      const double want = two_pass(ring, ring.size());
      ASSERT_NEAR(window.population_std(), want, 1e-12 * want) << "period " << k;
    }
  }
}

}  // namespace
}  // namespace varnok::frame
