#include "corvex/c2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "corvex/mimo_sim.h"

namespace corvex {
namespace {

// Difference equation from rest: Σ den[i]·y[n−i] = Σ num[i]·u[n−i].
std::vector<double> filter(const DiscreteTransferFunction& g, const std::vector<double>& u) {
  std::vector<double> y(u.size(), 0.0);
  for (std::size_t n = 0; n < u.size(); ++n) {
    double acc = 0;
    for (std::size_t i = 0; i < g.num.size() && i <= n; ++i) acc += g.num[i] * u[n - i];
    for (std::size_t i = 1; i < g.den.size() && i <= n; ++i) acc -= g.den[i] * y[n - i];
    y[n] = acc / g.den[0];
  }
  return y;
}

TEST(C2D, FirstOrderWithWholePeriodDelayGivesTheDelayedDifferenceEquation) {
  const DiscreteTransferFunction g = c2d({2.0}, {30.0, 1}, 15, 1.0, "zoh");
  const double a = std::exp(-1.0 / 30);
  ASSERT_EQ(g.num.size(), 17u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(g.num[i], 0.0) << i;
  EXPECT_NEAR(g.num[16], 2 * (1 - a), 1e-15);
  EXPECT_NEAR(g.num[16], 0.0655678, 1e-7);
  ASSERT_EQ(g.den.size(), 2u);
  EXPECT_EQ(g.den[0], 1.0);
  EXPECT_NEAR(g.den[1], -a, 1e-15);

  const std::vector<double> y = filter(g, std::vector<double>(1000, 1.0));
  for (std::size_t n = 0; n < y.size(); ++n) {
    const double expected = n < 16 ? 0.0 : 2 * (1 - std::exp(-(static_cast<double>(n) - 15) / 30));
    ASSERT_NEAR(y[n], expected, 1e-12) << n;
  }
}

// MIMOSim's call k holds input k over period k and returns the value at its
// end, which is sample k of the filtered sequence with u[k−1] = input k.
TEST(C2D, ReproducesMIMOSimSamples) {
  struct Case {
    std::vector<double> num, den;
    double delay, ts;
  };
  const Case cases[] = {
      {{0.254, 1.8198}, {1, 0.3567, 0.2426}, 4, 1.0},
      {{0.254, 1.8198}, {1, 0.3567, 0.2426}, 2.5, 1.0},
      {{1, -0.5, 3}, {2, 3, 2.5, 1}, 1.0, 0.3},
      {{0.08}, {30, 1, 0}, 3.7, 1.0},
  };
  std::vector<double> u(400);
  for (std::size_t k = 0; k < u.size(); ++k)
    u[k] = std::sin(0.05 * static_cast<double>(k)) + (k > 100 ? 1.0 : 0.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay);
    PlantDescription plant;
    plant["CV1"].set("MV1", {"tf_s", c.num, c.den, c.delay, false});
    MIMOSim sim(plant, {{"CV1", 0}, {"MV1", 0}}, c.ts);
    const std::vector<double> y = filter(c2d(c.num, c.den, c.delay, c.ts), u);
    for (std::size_t k = 1; k < u.size(); ++k)
      ASSERT_NEAR(sim.run({{"MV1", u[k - 1]}}).at("CV1").to_double(), y[k], 1e-9) << k;
  }
}

TEST(C2D, KeepsSteadyStateGainAndFeedthrough) {
  for (const double delay : {0.0, 0.4, 3.0}) {
    const DiscreteTransferFunction g = c2d({2, 1}, {1, 1}, delay, 1.0);
    const double sum_num = std::accumulate(g.num.begin(), g.num.end(), 0.0);
    const double sum_den = std::accumulate(g.den.begin(), g.den.end(), 0.0);
    EXPECT_NEAR(sum_num / sum_den, 1.0, 1e-12) << delay;
  }
  // Without dead time the feedthrough appears in the same sample.
  EXPECT_DOUBLE_EQ(c2d({2, 1}, {1, 1}, 0, 1.0).num[0], 2.0);
  const DiscreteTransferFunction gain = c2d({3}, {2}, 2.5, 1.0);
  EXPECT_EQ(gain.num, (std::vector<double>{0, 0, 0, 1.5}));
  EXPECT_EQ(gain.den, (std::vector<double>{1}));
}

TEST(C2D, RefusesOtherMethodsAndBadPaths) {
  EXPECT_THROW(c2d({1}, {1, 1}, 0, 1.0, "foh"), std::invalid_argument);
  EXPECT_THROW(c2d({1, 1, 1}, {1, 1}, 0, 1.0), std::invalid_argument);
  EXPECT_THROW(c2d({1}, {1, 1}, -2, 1.0), std::invalid_argument);
  EXPECT_THROW(c2d({1}, {1, 1}, 0, 0.0), std::invalid_argument);
}

}  // namespace
}  // namespace corvex
