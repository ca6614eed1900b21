#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "corvex/c2d.h"
#include "farrow_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"

namespace varnok::farrow {
namespace {

using testing::fopdt_step;
using testing::run_periods;
using testing::tag;

const double a = std::exp(-1.0 / 30.0);  // pole of the predictable path

TEST(FarrowModel, TagSetInOrderWithInitialValues) {
  const std::vector<std::string> expected{"MV1_A", "CV1_A",   "MV1_B", "CV1_B", "MV1_C",    "CV1_C", "DV1",
                                          "DV0",   "_DV1Sim", "v1",    "SP1",   "RunCount", "BK1",   "BK2",
                                          "BK3",   "BK4",     "BK5",   "BK6",   "BK7",      "BK8"};
  const corvex::ValueMap& ini = sim_ini_dict();
  EXPECT_EQ(ini.keys(), expected);
  for (const auto& [name, value] : ini) EXPECT_EQ(value.is_integer(), name == "RunCount") << name;
  EXPECT_EQ(ini.at("DV1"), corvex::Value(dv1()[0]));
  EXPECT_EQ(ini.at("DV0"), corvex::Value(dv0()[0]));
  EXPECT_EQ(ini.at("_DV1Sim"), corvex::Value(30.0));
  EXPECT_EQ(ini.at("v1"), corvex::Value(0.0));
}

TEST(FarrowModel, DiscretePredictablePathStepResponse) {
  const std::vector<double> unit_step(2000, 1.0);
  const std::vector<double> y = frame::lfilter(G0num(), G0den(), unit_step);
  for (std::size_t n = 0; n < 16; ++n) ASSERT_EQ(y[n], 0.0) << n;
  EXPECT_NEAR(y[16], 0.0655678, 5e-8);
  for (std::size_t n = 16; n < y.size(); ++n)
    ASSERT_NEAR(y[n], 2.0 * (1.0 - std::pow(a, static_cast<double>(n - 15))), 1e-12) << n;
  EXPECT_NEAR(y[15 + 30], 2.0 * (1.0 - std::exp(-1.0)), 1e-12);  // time constant 30 samples
  EXPECT_NEAR(y.back(), 2.0, 1e-12);
}

TEST(FarrowModel, SequencesComeFromThreeBlocksOfTheSeededGenerator) {
  frame::NormalGenerator gen(28897);
  gen.draw(N);  // the noise block, scaled to nothing
  std::vector<double> part1 =
      frame::coloured_noise(gen, N, std::vector{1.0, 0.7}, std::vector{1.0, -1.9, 0.9025});
  for (double& x : part1) x = 0.02 * x + 20.0;
  std::vector<double> leading = frame::coloured_noise(gen, N, std::vector{1.0}, std::vector{1.0, -0.98});
  for (double& x : leading) x *= 0.4;
  EXPECT_EQ(dv1_part1(), part1);
  EXPECT_EQ(dv0(), leading);

  // The predictable part by its difference equation, independent of c2d.
  double y = 0.0;
  for (std::size_t n = 0; n < 5000; ++n) {
    y = a * y + (n >= 16 ? 2.0 * (1.0 - a) * leading[n - 16] : 0.0);
    ASSERT_NEAR(dv1_sim()[n], 30.0 + y, 1e-12) << n;
    ASSERT_EQ(dv1()[n], dv1_part1()[n] + dv1_sim()[n]);
  }
  for (double x : v1()) ASSERT_TRUE(x == 0.0 && !std::signbit(x));
}

TEST(FarrowModel, PredictablePartIsExactlyThirtyForTheFirstSixteenIndices) {
  DV_Prd sim;
  for (std::int64_t k = 0; k < 16; ++k) {
    sim.run_task(k);
    const auto i = static_cast<std::size_t>(k);
    EXPECT_EQ(tag(sim, "_DV1Sim"), 30.0) << k;
    EXPECT_EQ(tag(sim, "DV1"), dv1_part1()[i] + 30.0) << k;
    EXPECT_EQ(tag(sim, "DV0"), dv0()[i]) << k;
  }
}

TEST(FarrowModel, ModelTagsAreRewrittenEveryPeriodAndSetpointIsIgnored) {
  DV_Prd reference;
  DV_Prd sim;
  run_periods(reference, 50);
  run_periods(sim, 49);
  for (const char* name : {"DV0", "_DV1Sim", "DV1", "v1"}) sim.get_data().set(name, 999.0);
  sim.get_data().set("SP1", 0.0);
  sim.run_task(50);
  for (const char* name : {"DV0", "_DV1Sim", "DV1", "v1", "CV1_A"})
    EXPECT_EQ(tag(sim, name), tag(reference, name)) << name;
  EXPECT_EQ(tag(sim, "v1"), 0.0);
  EXPECT_EQ(tag(sim, "SP1"), 0.0);
}

TEST(FarrowModel, DvPathFollowsItsZeroOrderHoldEquivalent) {
  DV_Prd sim;
  constexpr std::size_t periods = 1000;
  // Period k holds DV1 = dv1[k]; the plant started at rest at dv1[0], so the
  // end of period k is sample k of the held deviations, filtered.
  std::vector<double> deviation(periods + 1);
  for (std::size_t k = 1; k <= periods + 1; ++k) deviation[k - 1] = dv1()[k] - dv1()[0];
  const corvex::DiscreteTransferFunction path = corvex::c2d({2.0}, {25.0, 1.0}, 10, 1.0, "zoh");
  const std::vector<double> response = frame::lfilter(path.num, path.den, deviation);
  for (std::size_t k = 1; k <= periods; ++k) {
    sim.run_task(static_cast<std::int64_t>(k));
    ASSERT_NEAR(tag(sim, "CV1_A"), 31.0 + response[k], 1e-9) << k;
    ASSERT_EQ(tag(sim, "CV1_B"), tag(sim, "CV1_A"));
    ASSERT_EQ(tag(sim, "CV1_C"), tag(sim, "CV1_A"));
  }
}

TEST(FarrowModel, CopyDifferencesIsolateTheMvPathAndStepsAddUp) {
  DV_Prd sim;
  for (int k = 1; k <= 1000; ++k) {
    if (k == 10) sim.get_data().set("MV1_A", 17.0);
    if (k == 200) sim.get_data().set("MV1_A", 14.0);
    if (k == 50) sim.get_data().set("MV1_C", 15.5);
    sim.run_task(k);
    const double a_moves = 2.0 * fopdt_step(1.5, 30, 15, k - 9) - 3.0 * fopdt_step(1.5, 30, 15, k - 199);
    ASSERT_NEAR(tag(sim, "CV1_A") - tag(sim, "CV1_B"), a_moves, 1e-9) << k;
    ASSERT_NEAR(tag(sim, "CV1_C") - tag(sim, "CV1_B"), 0.5 * fopdt_step(1.5, 30, 15, k - 49), 1e-9) << k;
  }
}

TEST(FarrowModel, IndexWrapsAtSequenceLengthWhileRunCountGoesOn) {
  DV_Prd sim;
  sim.run_task(static_cast<std::int64_t>(N) + 3);
  EXPECT_EQ(tag(sim, "DV1"), dv1()[3]);
  EXPECT_EQ(tag(sim, "_DV1Sim"), dv1_sim()[3]);
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(static_cast<std::int64_t>(N) + 3));
}

TEST(FarrowModel, ObjectsBuiltLaterRunIdentically) {
  DV_Prd a_sim;
  run_periods(a_sim, 200);
  frame::NormalGenerator other(7);  // another model drawing in between
  other.draw(1000);
  DV_Prd b_sim;
  run_periods(b_sim, 200);
  EXPECT_EQ(a_sim.get_data(), b_sim.get_data());
}

}  // namespace
}  // namespace varnok::farrow
