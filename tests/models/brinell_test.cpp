#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "anti_windup_limiter.h"
#include "brinell_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"

namespace varnok::brinell {
namespace {

using corvex::Value;
using testing::run_periods;
using testing::tag;

// Unit step response of K·e^(−D·s)/((T·s + 1)·s) at t seconds after the step
// reached the plant: a ramp of slope K that lags T behind, from t = D on.
double integrating_step(double gain, double tau, double delay, double t) {
  if (t <= delay) return 0.0;
  const double x = t - delay;
  return gain * (x - tau * (1.0 - std::exp(-x / tau)));
}
double mv_step(double t) {
  return integrating_step(0.08, 30, 17, t);
}
double dv_step(double t) {
  return integrating_step(0.06, 20, 4, t);
}

std::string joined(const std::vector<std::string>& tags) {
  std::string out;
  for (const auto& t : tags) out += (out.empty() ? "" : " ") + t;
  return out;
}

// ---- limiter ----

TEST(AntiWindupLimter, HoldsTheHighLimitAndLeavesItAsSoonAsTheInputTurns) {
  AntiWindupLimter limiter;
  EXPECT_EQ(limiter(120.0), Value(100));
  const Value held = limiter(130.0);
  EXPECT_TRUE(held.is_integer());  // the limit argument itself
  EXPECT_EQ(held.integer(), 100);
  const Value left = limiter(125.0);
  EXPECT_FALSE(left.is_integer());
  EXPECT_EQ(left.to_double(), 95.0);
}

TEST(AntiWindupLimter, StartsAtTheLowLimitAndMovesByTheIncrement) {
  AntiWindupLimter limiter;
  const Value low = limiter(-5.0);
  EXPECT_EQ(low.to_double(), 0.0);
  EXPECT_EQ(limiter.run(3.0).to_double(), 8.0);
}

TEST(AntiWindupLimter, PassesValuesInsideTheLimits) {
  AntiWindupLimter limiter;
  EXPECT_EQ(limiter(50), Value(50.0));
  EXPECT_FALSE(limiter(50).is_integer());  // the input is taken as a real
  EXPECT_EQ(limiter(60.0).to_double(), 60.0);
}

TEST(AntiWindupLimter, ClampedResultHasTheKindOfTheLimitGiven) {
  AntiWindupLimter limiter;
  limiter.run(30.0, 35.0, 25.0);
  const Value high = limiter.run(40.0, 35.0, 25.0);
  EXPECT_FALSE(high.is_integer());
  EXPECT_EQ(high.to_double(), 35.0);
  const Value low = limiter.run(0.0, 35, 25);
  EXPECT_TRUE(low.is_integer());
  EXPECT_EQ(low.integer(), 25);
}

TEST(AntiWindupLimter, RejectsNonFiniteInputAndKeepsItsState) {
  AntiWindupLimter limiter;
  limiter(50.0);
  EXPECT_THROW(limiter(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(limiter(std::numeric_limits<double>::infinity()), std::invalid_argument);
  EXPECT_THROW(limiter(55.0, std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_EQ(limiter(60.0).to_double(), 60.0);
}

// ---- model ----

TEST(BrinellModel, TagSetInOrderWithItsKinds) {
  EXPECT_EQ(joined(sim_ini_dict.keys()),
            "MV1 CV1 DV1 SP1 MV1_HI MV1_LO SET_CV_STD SET_DV_RANDOM OPEN_MV1 OPEN_CV1 "
            "PID_MV1 PID_CV1 PID_KP PID_TI PID_TD PID_N CV1std_10min OPEN_CV1std_10min "
            "PID_CV1std_10min RunCount BK1 BK2 BK3 BK4 BK5 BK6 BK7 BK8");
  for (const char* integer :
       {"MV1", "CV1", "DV1", "SP1", "OPEN_MV1", "OPEN_CV1", "PID_MV1", "PID_CV1", "PID_TI", "RunCount"})
    EXPECT_TRUE(sim_ini_dict.at(integer).is_integer()) << integer;
  for (const char* real : {"MV1_HI", "PID_KP", "PID_TD", "PID_N", "SET_CV_STD", "BK8"})
    EXPECT_FALSE(sim_ini_dict.at(real).is_integer()) << real;
  for (const auto& [cv, inputs] : plant_model)
    for (const auto& [input, path] : inputs) EXPECT_TRUE(path.integral) << cv << " <- " << input;
}

TEST(BrinellModel, SteadyStateStaysExactWithZeroStatistics) {
  SISOSim sim;
  for (int k = 1; k <= 2000; ++k) {
    sim.run_task(k);
    ASSERT_EQ(tag(sim, "CV1"), 51.0);
    ASSERT_EQ(tag(sim, "OPEN_CV1"), 51.0);
    ASSERT_EQ(tag(sim, "PID_CV1"), 51.0);
    ASSERT_EQ(tag(sim, "PID_MV1"), 29.0);
    ASSERT_EQ(tag(sim, "CV1std_10min"), 0.0);
    ASSERT_EQ(tag(sim, "OPEN_CV1std_10min"), 0.0);
    ASSERT_EQ(tag(sim, "PID_CV1std_10min"), 0.0);
  }
  EXPECT_EQ(sim.get_data().at("RunCount"), Value(2000));
}

TEST(BrinellModel, StepsAddUpAlongIntegratingPaths) {
  SISOSim sim;
  auto& data = sim.get_data();
  for (int k = 1; k <= 1000; ++k) {
    if (k == 1) data.set("MV1", 29.5);
    if (k == 100) data.set("OPEN_MV1", 28.6);
    if (k == 300) data.set("MV1", 28.8);
    if (k == 500) data.set("DV1", 32.7);
    sim.run_task(k);
    const double dv = -0.3 * dv_step(k - 500 + 1);
    ASSERT_NEAR(tag(sim, "CV1"), 51.0 + 0.5 * mv_step(k) - 0.7 * mv_step(k - 300 + 1) + dv, 1e-9) << k;
    ASSERT_NEAR(tag(sim, "OPEN_CV1"), 51.0 - 0.4 * mv_step(k - 100 + 1) + dv, 1e-9) << k;
    if (k < 500) {
      ASSERT_EQ(tag(sim, "PID_CV1"), 51.0) << k;
    }
  }
}

TEST(BrinellModel, DvStepMovesAllThreeCopiesAlike) {
  SISOSim sim;
  sim.get_data().set("DV1", 33.5);  // before period 1
  for (int k = 1; k <= 21; ++k) {   // the PID's reaction reaches PID_CV1 only after the dead time
    sim.run_task(k);
    EXPECT_NEAR(tag(sim, "CV1"), 51.0 + 0.5 * dv_step(k), 1e-9) << k;
    EXPECT_EQ(tag(sim, "OPEN_CV1"), tag(sim, "CV1"));
    EXPECT_EQ(tag(sim, "PID_CV1"), tag(sim, "CV1"));
  }
}

TEST(BrinellModel, PublishedCvStopsAtHundredWhileThePlantIntegratesBeyond) {
  SISOSim sim;
  sim.get_data().set("MV1", 30);  // before period 1
  const auto raw = [](int k) { return 51.0 + mv_step(k) - 2.0 * mv_step(k - 1000); };
  double peak = 0.0;
  bool clamped = false;
  bool turned = false;
  for (int k = 1; k <= 1400; ++k) {
    if (k == 1001) sim.get_data().set("MV1", 28);
    sim.run_task(k);
    const Value& cv = sim.get_data().at("CV1");
    if (raw(k) >= peak) {
      peak = raw(k);
      if (peak > 100.0) {
        ASSERT_TRUE(cv.is_integer()) << k;
        ASSERT_EQ(cv.integer(), 100) << k;
        clamped = true;
      } else {
        ASSERT_NEAR(cv.to_double(), raw(k), 1e-9) << k;
      }
    } else {
      // Leaves the limit with the first downward move of the plant.
      ASSERT_NEAR(cv.to_double(), 100.0 - (peak - raw(k)), 1e-9) << k;
      ASSERT_LT(cv.to_double(), 100.0) << k;
      turned = true;
    }
  }
  EXPECT_TRUE(clamped);
  EXPECT_TRUE(turned);
  EXPECT_GT(raw(1400), 100.0);       // the plant is still beyond the limit ...
  EXPECT_LT(tag(sim, "CV1"), 75.0);  // ... while the published value came well back
  EXPECT_EQ(tag(sim, "OPEN_CV1"), 51.0);
}

TEST(BrinellModel, PublishedCvStopsAtZeroBelowWithoutTouchingTheOtherCopies) {
  SISOSim sim;
  sim.get_data().set("OPEN_MV1", 28);
  run_periods(sim, 750);  // the plant crosses 0 near period 700
  for (int k = 751; k <= 1000; ++k) {
    sim.run_task(k);
    const Value& cv = sim.get_data().at("OPEN_CV1");
    ASSERT_TRUE(cv.is_integer()) << k;
    ASSERT_EQ(cv.integer(), 0) << k;
    ASSERT_EQ(tag(sim, "PID_CV1"), 51.0) << k;  // each copy has a limiter of its own
    ASSERT_EQ(tag(sim, "CV1"), 51.0) << k;
  }
  EXPECT_LT(51.0 - mv_step(1000), -20.0);
}

TEST(BrinellModel, PidCopyHoldsItsSetpointOnTheIntegratingPlant) {
  SISOSim sim;
  sim.get_data().set("SP1", 60);
  for (int k = 1; k <= 6000; ++k) {
    sim.run_task(k);
    ASSERT_LT(tag(sim, "PID_CV1"), 100.0);
  }
  EXPECT_NEAR(tag(sim, "PID_CV1"), 60.0, 1e-6);
  EXPECT_NEAR(tag(sim, "PID_MV1"), 29.0, 1e-6);  // an integrating plant balances at the old MV
  EXPECT_EQ(tag(sim, "CV1"), 51.0);
}

TEST(BrinellModel, ThreeCopiesGetTheSameNoiseSample) {
  SISOSim sim;
  sim.get_data().set("SET_CV_STD", 1.5);
  for (int k = 1; k <= 18; ++k) {
    sim.run_task(k);
    EXPECT_NEAR(tag(sim, "CV1"), 51.0 + 1.5 * sim.v1()[static_cast<std::size_t>(k)], 1e-12);
    EXPECT_EQ(tag(sim, "OPEN_CV1"), tag(sim, "CV1"));
    EXPECT_EQ(tag(sim, "PID_CV1"), tag(sim, "CV1"));
  }
}

TEST(BrinellModel, NoiseOfStdTwoOverAFullCycle) {
  SISOSim sim;
  sim.get_data().set("SET_CV_STD", 2);
  std::vector<double> noise;
  noise.reserve(SISOSim::N);
  for (std::int64_t k = 1; k <= static_cast<std::int64_t>(SISOSim::N); ++k) {
    sim.run_task(k);
    noise.push_back(tag(sim, "CV1") - 51.0);
  }
  EXPECT_NEAR(frame::population_std(noise), 2.0, 1e-9);
  EXPECT_NEAR(frame::mean(noise), 0.0, 1e-9);
  EXPECT_NEAR(noise.back(), 2.0 * sim.v1()[0], 1e-9);  // period N uses index 0
}

TEST(BrinellModel, InfiniteNoiseSwitchIsRefusedWithoutHarmingTheLimiters) {
  SISOSim sim;
  run_periods(sim, 5);
  sim.get_data().set("SET_CV_STD", std::numeric_limits<double>::infinity());
  EXPECT_NO_THROW(sim.run_task(6));
  EXPECT_EQ(tag(sim, "SET_CV_STD"), 0.0);
  EXPECT_EQ(tag(sim, "CV1"), 51.0);
  sim.get_data().set("SET_CV_STD", 0.0);
  for (int k = 7; k <= 20; ++k) {
    sim.run_task(k);
    ASSERT_EQ(tag(sim, "CV1"), 51.0);
    ASSERT_EQ(tag(sim, "OPEN_CV1"), 51.0);
    ASSERT_EQ(tag(sim, "PID_CV1"), 51.0);
  }
}

TEST(BrinellModel, RandomDvOnlyAboveHalf) {
  SISOSim sim;
  sim.get_data().set("SET_DV_RANDOM", 0.5);
  sim.get_data().set("DV1", 40.0);
  sim.run_task(1);
  EXPECT_EQ(tag(sim, "DV1"), 40.0);
  sim.get_data().set("SET_DV_RANDOM", 0.51);
  sim.run_task(2);
  EXPECT_EQ(tag(sim, "DV1"), sim.dv1()[2]);
  EXPECT_NEAR(frame::mean(sim.dv1()), 33.0, 1e-9);
  EXPECT_NEAR(frame::population_std(sim.dv1()), 1.0, 1e-9);
}

TEST(BrinellModel, SequencesComeFromSeedTwoInDrawOrder) {
  frame::NormalGenerator gen(2);
  auto v1 =
      frame::lfilter(std::vector{1.0, -0.5, 0.3},
                     frame::poly_mul(std::vector{1.0, -0.99}, std::vector{1.0, -0.99}), gen.draw(SISOSim::N));
  frame::standardise(v1);
  const std::vector num{1.0, 0.7, -0.1};
  const auto slow = frame::lfilter(num, frame::poly_mul(std::vector{1.0, -0.95}, std::vector{1.0, -0.92}),
                                   gen.draw(SISOSim::N));
  const auto fast = frame::lfilter(num, frame::poly_mul(std::vector{1.0, -0.15}, std::vector{1.0, -0.19}),
                                   gen.draw(SISOSim::N));

  frame::NormalGenerator other(2);
  other.draw(1000);  // draws elsewhere before construction change nothing
  const SISOSim a;
  const SISOSim b;
  EXPECT_EQ(a.v1(), b.v1());
  EXPECT_EQ(a.dv1(), b.dv1());

  double worst_v = 0.0;
  double worst_dv = 0.0;
  std::vector<double> walk(SISOSim::N);
  for (std::size_t i = 0; i < SISOSim::N; ++i) walk[i] = slow[i] + 10.0 * fast[i];
  const double m = frame::mean(walk);
  for (auto& x : walk) x -= m;
  const double s = frame::population_std(walk);
  for (std::size_t i = 0; i < SISOSim::N; ++i) {
    worst_v = std::max(worst_v, std::abs(a.v1()[i] - v1[i]));
    worst_dv = std::max(worst_dv, std::abs(a.dv1()[i] - (walk[i] / s + 33.0)));
  }
  EXPECT_LT(worst_v, 1e-9);
  EXPECT_LT(worst_dv, 1e-9);
}

}  // namespace
}  // namespace varnok::brinell
