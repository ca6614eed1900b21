#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dunmore_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"

namespace varnok::dunmore {
namespace {

using testing::fopdt_step;
using testing::run_periods;
using testing::tag;

// Unit step response of the operating-point-80 MV path
//   (b1·s + b0)·e^(−4s) / (s² + 2α·s + ω0²),  underdamped (α² < ω0²).
// Partial fractions of G(s)/s give, with A = b0/ω0², ωd = √(ω0² − α²) and
// τ = t − 4:  A − e^(−ατ)·[A·cos(ωd·τ) − (b1 − α·A)/ωd · sin(ωd·τ)].
double mv_step_w1(double t) {
  constexpr double b1 = 0.254, b0 = 1.8198, alpha = 0.3567 / 2, w0_sq = 0.2426;
  if (t <= 4) return 0.0;
  const double tau = t - 4, gain = b0 / w0_sq, wd = std::sqrt(w0_sq - alpha * alpha);
  return gain -
         std::exp(-alpha * tau) * (gain * std::cos(wd * tau) - (b1 - alpha * gain) / wd * std::sin(wd * tau));
}
double mv_step_w2(double t) {
  return fopdt_step(1.0, 50, 24, t);
}
double dv_step_w1(double t) {
  return fopdt_step(3.5, 15, 8, t);
}
double dv_step_w2(double t) {
  return fopdt_step(2.2, 40, 20, t);
}

// Both local models see the whole input history; the output blends their
// responses with the weights of the period.
double blended(const LPVSISO& sim, double w1_response, double w2_response) {
  return tag(sim, "_P1") * w1_response + tag(sim, "_P2") * w2_response;
}

void switch_off_noise_and_random_dv(LPVSISO& sim) {
  sim.get_data().set("SET_CV_STD", 0.0);
  sim.get_data().set("SET_DV_RANDOM", 0.0);
}

TEST(DunmoreModel, TagSetInOrderWithInitialValues) {
  const std::vector<std::string> expected{
      "MV1_A", "CV1_A", "MV1_B", "CV1_B", "MV1_C",      "CV1_C",         "MV1_D",    "CV1_D", "SV1", "DV1",
      "v1",    "SP1",   "_P1",   "_P2",   "SET_CV_STD", "SET_DV_RANDOM", "RunCount", "BK1",   "BK2", "BK3",
      "BK4",   "BK5",   "BK6",   "BK7",   "BK8"};
  const corvex::ValueMap& ini = sim_ini_dict();
  EXPECT_EQ(ini.keys(), expected);
  for (const auto& [name, value] : ini) EXPECT_EQ(value.is_integer(), name == "RunCount") << name;
  EXPECT_EQ(ini.at("SV1"), corvex::Value(80.0));
  EXPECT_EQ(ini.at("DV1"), corvex::Value(dv1()[0]));
  EXPECT_EQ(ini.at("v1"), corvex::Value(v1()[0]));
  EXPECT_EQ(ini.at("_P1"), corvex::Value(1.0));
  EXPECT_EQ(ini.at("_P2"), corvex::Value(0.0));
}

TEST(DunmoreModel, ProfileHoldsAndRampsHittingBothEndsExactly) {
  const std::vector<double>& mw = MW();
  ASSERT_EQ(mw.size(), 1600u);
  for (std::size_t i : {0u, 499u, 500u, 1599u}) EXPECT_EQ(mw[i], 80.0) << i;
  for (std::size_t i : {799u, 800u, 1299u, 1300u}) EXPECT_EQ(mw[i], 120.0) << i;
  for (std::size_t i = 501; i < 800; ++i) ASSERT_NEAR(mw[i] - mw[i - 1], 40.0 / 299, 1e-12) << i;
  for (std::size_t i = 1301; i < 1600; ++i) ASSERT_NEAR(mw[i] - mw[i - 1], -40.0 / 299, 1e-12) << i;

  // Period k reads index k − 1, wrapping with a floor modulo.
  LPVSISO sim;
  for (std::int64_t k : {1, 500, 501, 800, 801, 1300, 1301, 1600, 1601, 0}) {
    sim.run_task(k);
    const auto index = static_cast<std::size_t>((k + 1599) % 1600);
    EXPECT_EQ(tag(sim, "SV1"), mw[index]) << k;
  }
}

TEST(DunmoreModel, TaskCountOneReadsFirstElementsAndZeroTheLast) {
  LPVSISO first;
  first.run_task(1);
  EXPECT_EQ(tag(first, "SV1"), 80.0);
  EXPECT_EQ(tag(first, "DV1"), dv1().front());
  EXPECT_EQ(tag(first, "v1"), v1().front());

  LPVSISO before_first;
  before_first.run_task(0);
  EXPECT_EQ(tag(before_first, "SV1"), 80.0);
  EXPECT_EQ(tag(before_first, "DV1"), dv1().back());
  EXPECT_EQ(tag(before_first, "v1"), v1().back());
  EXPECT_EQ(before_first.get_data().at("RunCount"), corvex::Value(0));
}

TEST(DunmoreModel, SteadyStateStaysExactThroughTheProfileWhileWeightsFollowIt) {
  LPVSISO sim;
  switch_off_noise_and_random_dv(sim);
  sim.get_data().set("SP1", 55.0);  // published only
  for (int k = 1; k <= 1700; ++k) {
    sim.run_task(k);
    for (const char* cv : {"CV1_A", "CV1_B", "CV1_C", "CV1_D"}) ASSERT_EQ(tag(sim, cv), 31.0) << k;
    ASSERT_EQ(tag(sim, "v1"), 0.0);
    ASSERT_FALSE(std::signbit(tag(sim, "v1")));
    ASSERT_NEAR(tag(sim, "_P2"), (tag(sim, "SV1") - 80.0) / 40.0, 1e-12) << k;
    ASSERT_NEAR(tag(sim, "_P1") + tag(sim, "_P2"), 1.0, 1e-12) << k;
  }
  EXPECT_EQ(tag(sim, "SP1"), 55.0);
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(1700));
}

TEST(DunmoreModel, MvStepFollowsTheBlendedLocalResponsesAcrossTheRamp) {
  LPVSISO sim;
  switch_off_noise_and_random_dv(sim);
  run_periods(sim, 9);
  sim.get_data().set("MV1_B", 17.0);  // before period 10
  for (int k = 10; k <= 1000; ++k) {
    sim.run_task(k);
    const double t = k - 9;
    ASSERT_NEAR(tag(sim, "CV1_B"), 31.0 + 2.0 * blended(sim, mv_step_w1(t), mv_step_w2(t)), 1e-9) << k;
    ASSERT_EQ(tag(sim, "CV1_A"), 31.0);
  }
}

TEST(DunmoreModel, MvAndDvStepsAddUp) {
  LPVSISO sim;
  switch_off_noise_and_random_dv(sim);
  const double dv0 = tag(sim, "DV1");
  for (int k = 1; k <= 1000; ++k) {
    if (k == 10) sim.get_data().set("MV1_C", 17.0);
    if (k == 300) sim.get_data().set("DV1", dv0 + 0.5);
    if (k == 600) sim.get_data().set("MV1_C", 14.0);  // during the ramp
    sim.run_task(k);
    const double dv = 0.5 * blended(sim, dv_step_w1(k - 299), dv_step_w2(k - 299));
    const double mv = blended(sim, 2.0 * mv_step_w1(k - 9) - 3.0 * mv_step_w1(k - 599),
                              2.0 * mv_step_w2(k - 9) - 3.0 * mv_step_w2(k - 599));
    ASSERT_NEAR(tag(sim, "CV1_A"), 31.0 + dv, 1e-9) << k;
    ASSERT_NEAR(tag(sim, "CV1_C"), 31.0 + dv + mv, 1e-9) << k;
  }
}

TEST(DunmoreModel, CopyDifferenceIsolatesTheMvPathUnderNoiseAndRandomDv) {
  LPVSISO sim;  // noise and random disturbance on from the start
  run_periods(sim, 19);
  sim.get_data().set("MV1_D", 16.5);  // before period 20
  for (int k = 20; k <= 1000; ++k) {
    sim.run_task(k);
    const double t = k - 19;
    ASSERT_EQ(tag(sim, "CV1_B"), tag(sim, "CV1_A"));
    ASSERT_NEAR(tag(sim, "CV1_D") - tag(sim, "CV1_A"), 1.5 * blended(sim, mv_step_w1(t), mv_step_w2(t)), 1e-9)
        << k;
  }
}

TEST(DunmoreModel, NoiseSampleIsPublishedAndSharedByAllFourCopies) {
  for (double level : {0.0, -1.0}) {
    LPVSISO sim;
    switch_off_noise_and_random_dv(sim);
    sim.get_data().set("SET_CV_STD", level);
    run_periods(sim, 30);
    EXPECT_EQ(tag(sim, "v1"), 0.0);
    EXPECT_EQ(tag(sim, "CV1_D"), 31.0);
  }

  LPVSISO sim;
  switch_off_noise_and_random_dv(sim);
  sim.get_data().set("SET_CV_STD", 2);
  std::vector<double> published;
  published.reserve(N);
  for (std::int64_t k = 1; k <= static_cast<std::int64_t>(N); ++k) {
    sim.run_task(k);
    published.push_back(tag(sim, "v1"));
    if (k <= 3) {
      EXPECT_EQ(published.back(), 2.0 * v1()[static_cast<std::size_t>(k - 1)]);
      for (const char* cv : {"CV1_A", "CV1_B", "CV1_C", "CV1_D"})
        EXPECT_EQ(tag(sim, cv), 31.0 + published.back());
    }
  }
  EXPECT_NEAR(frame::population_std(published), 2.0, 1e-9);
}

TEST(DunmoreModel, RandomDisturbanceOnlyAboveHalf) {
  LPVSISO sim;
  sim.get_data().set("SET_DV_RANDOM", 0.5);
  sim.get_data().set("DV1", 25.0);
  sim.run_task(1);
  EXPECT_EQ(tag(sim, "DV1"), 25.0);
  sim.get_data().set("SET_DV_RANDOM", 0.51);
  sim.run_task(2);
  EXPECT_EQ(tag(sim, "DV1"), dv1()[1]);
}

TEST(DunmoreModel, SequencesComeFromTheirOwnSeededGeneratorInOrder) {
  frame::NormalGenerator gen(285891);
  const std::vector<double> den{1.0, -1.9, 0.9025};
  std::vector<double> noise = frame::coloured_noise(gen, N, std::vector{1.0}, den);
  const double spread = frame::population_std(noise);
  for (double& x : noise) x /= spread;
  std::vector<double> disturbance = frame::coloured_noise(gen, N, std::vector{1.0, 0.7}, den);
  for (double& x : disturbance) x = 0.02 * x + 20.0;
  EXPECT_EQ(v1(), noise);
  EXPECT_EQ(dv1(), disturbance);
  EXPECT_NE(frame::mean(v1()), 0.0);  // the mean is kept
}

TEST(DunmoreModel, ObjectsBuiltLaterRunIdentically) {
  LPVSISO a;
  run_periods(a, 200);
  frame::NormalGenerator other(7);  // another model drawing in between
  other.draw(1000);
  LPVSISO b;
  run_periods(b, 200);
  EXPECT_EQ(a.get_data(), b.get_data());
}

}  // namespace
}  // namespace varnok::dunmore
