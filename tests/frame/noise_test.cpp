#include "varnok/frame/noise.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnok::frame {
namespace {

TEST(NormalGenerator, SameSeedGivesSameSequenceAndOthersDiffer) {
  NormalGenerator a(3);
  NormalGenerator b(3);
  NormalGenerator c(4);
  const auto xa = a.draw(1001);
  EXPECT_EQ(xa, b.draw(1001));
  EXPECT_NE(xa, c.draw(1001));
}

TEST(NormalGenerator, DrawsAreStandardNormal) {
  NormalGenerator gen(1);
  const auto x = gen.draw(200000);
  EXPECT_NEAR(mean(x), 0.0, 0.01);
  EXPECT_NEAR(population_std(x), 1.0, 0.01);
  const auto beyond_two = std::count_if(x.begin(), x.end(), [](double v) { return std::abs(v) > 2.0; });
  EXPECT_NEAR(static_cast<double>(beyond_two) / static_cast<double>(x.size()), 0.0455, 0.003);
}

TEST(Lfilter, DifferenceEquationFromRest) {
  // y[n] = x[n] + 0.5 x[n-1] + 0.9 y[n-1], with a0 normalised away.
  const std::vector<double> b{2.0, 1.0};
  const std::vector<double> a{2.0, -1.8};
  const std::vector<double> x{1.0, 0.0, 0.0, 2.0};
  const auto y = lfilter(b, a, x);
  ASSERT_EQ(y.size(), 4u);
  EXPECT_DOUBLE_EQ(y[0], 1.0);
  EXPECT_DOUBLE_EQ(y[1], 0.5 + 0.9);
  EXPECT_DOUBLE_EQ(y[2], 0.9 * 1.4);
  EXPECT_DOUBLE_EQ(y[3], 2.0 + 0.9 * 0.9 * 1.4);
}

TEST(Lfilter, LongNumeratorActsAsDelay) {
  std::vector<double> b(17, 0.0);
  b[16] = 1.0;
  const std::vector<double> a{1.0};
  std::vector<double> x(20, 1.0);
  const auto y = lfilter(b, a, x);
  for (int n = 0; n < 16; ++n) EXPECT_EQ(y[n], 0.0);
  for (int n = 16; n < 20; ++n) EXPECT_EQ(y[n], 1.0);
}

TEST(Lfilter, RefusesEmptyOrZeroLeadingDenominator) {
  const std::vector<double> x{1.0};
  EXPECT_THROW(lfilter(std::vector<double>{}, std::vector<double>{1.0}, x), std::invalid_argument);
  EXPECT_THROW(lfilter(std::vector<double>{1.0}, std::vector<double>{0.0, 1.0}, x), std::invalid_argument);
}

TEST(Standardise, GivesZeroMeanUnitPopulationStd) {
  NormalGenerator gen(7);
  auto x = coloured_noise(gen, 50000, std::vector{1.0, -0.5, 0.3}, std::vector{1.0, -1.94, 0.9405});
  standardise(x);
  EXPECT_NEAR(mean(x), 0.0, 1e-12);
  EXPECT_NEAR(population_std(x), 1.0, 1e-12);
}

TEST(ScaleAbout, KeepsMeanAndSetsAmplitude) {
  std::vector<double> x{1.0, 3.0};  // mean 2, population std 1
  scale_about(x, 2.0, 10.0);
  EXPECT_DOUBLE_EQ(x[0], 12.0);
  EXPECT_DOUBLE_EQ(x[1], 16.0);
}

TEST(PolyMul, MultipliesFirstOrderFactors) {
  const auto p = poly_mul(std::vector{1.0, -0.15}, std::vector{1.0, -0.19});
  ASSERT_EQ(p.size(), 3u);
  EXPECT_DOUBLE_EQ(p[1], -0.34);
  EXPECT_NEAR(p[2], 0.0285, 1e-15);
}

}  // namespace
}  // namespace varnok::frame
