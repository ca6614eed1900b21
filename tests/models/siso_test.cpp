#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model_runner.h"
#include "siso_model.h"
#include "varnok/frame/noise.h"

namespace varnok::siso {
namespace {

using testing::fopdt_step;
using testing::run_periods;
using testing::tag;

TEST(SisoModel, TagSetInOrder) {
  const std::vector<std::string> expected{"MV1",
                                          "CV1",
                                          "DV1",
                                          "MV1_HI",
                                          "MV1_LO",
                                          "SP1",
                                          "CV1_HI",
                                          "CV1_LO",
                                          "SET_CV1_STD",
                                          "SET_DV1_RANDOM",
                                          "OPEN_MV1",
                                          "OPEN_CV1",
                                          "PID_MV1",
                                          "PID_CV1",
                                          "PID_KP",
                                          "PID_TI",
                                          "PID_TD",
                                          "PID_N",
                                          "CV1std_10min",
                                          "OPEN_CV1std_10min",
                                          "PID_CV1std_10min",
                                          "RunCount",
                                          "BK1",
                                          "BK2",
                                          "BK3",
                                          "BK4",
                                          "BK5",
                                          "BK6",
                                          "BK7",
                                          "BK8"};
  EXPECT_EQ(sim_ini_dict.keys(), expected);
  EXPECT_TRUE(sim_ini_dict.at("PID_TI").is_integer());
  EXPECT_TRUE(sim_ini_dict.at("RunCount").is_integer());
  EXPECT_FALSE(sim_ini_dict.at("PID_N").is_integer());
}

TEST(SisoModel, SteadyStateStaysExactWithZeroStatistics) {
  SISOSim sim;
  for (int k = 1; k <= 2000; ++k) {
    sim.run_task(k);
    ASSERT_EQ(tag(sim, "CV1"), 31.0);
    ASSERT_EQ(tag(sim, "OPEN_CV1"), 31.0);
    ASSERT_EQ(tag(sim, "PID_CV1"), 31.0);
    ASSERT_EQ(tag(sim, "PID_MV1"), 29.0);
    ASSERT_EQ(tag(sim, "CV1std_10min"), 0.0);
    ASSERT_EQ(tag(sim, "PID_CV1std_10min"), 0.0);
  }
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(2000));
}

TEST(SisoModel, ThreeCopiesGetTheSameNoiseSample) {
  SISOSim sim;
  sim.get_data().set("SET_CV1_STD", 1.5);
  for (int k = 1; k <= 18; ++k) {  // the PID's reaction reaches PID_CV1 only after the dead time
    sim.run_task(k);
    const double expected = 31.0 + 1.5 * sim.v1()[static_cast<std::size_t>(k)];
    EXPECT_EQ(tag(sim, "CV1"), expected);
    EXPECT_EQ(tag(sim, "OPEN_CV1"), expected);
    EXPECT_EQ(tag(sim, "PID_CV1"), expected);
  }
}

TEST(SisoModel, NonPositiveNoiseSwitchGivesNoNoise) {
  for (double level : {0.0, -1.0}) {
    SISOSim sim;
    sim.get_data().set("SET_CV1_STD", level);
    run_periods(sim, 50);
    EXPECT_EQ(tag(sim, "CV1"), 31.0);
  }
}

TEST(SisoModel, IndexWrapsAtSequenceLengthWhileRunCountGoesOn) {
  SISOSim sim;
  sim.get_data().set("SET_CV1_STD", 1.0);
  sim.run_task(100000);
  EXPECT_EQ(tag(sim, "CV1"), 31.0 + sim.v1()[0]);
  sim.run_task(100001);
  EXPECT_EQ(tag(sim, "CV1"), 31.0 + sim.v1()[1]);
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(100001));
}

TEST(SisoModel, NoiseOfStdTwoOverAFullCycle) {
  SISOSim sim;
  sim.get_data().set("SET_CV1_STD", 2);
  std::vector<double> noise;
  noise.reserve(SISOSim::N);
  for (std::int64_t k = 1; k <= static_cast<std::int64_t>(SISOSim::N); ++k) {
    sim.run_task(k);
    noise.push_back(tag(sim, "CV1") - 31.0);
  }
  EXPECT_NEAR(frame::population_std(noise), 2.0, 1e-9);
  EXPECT_NEAR(frame::mean(noise), 0.0, 1e-9);
}

TEST(SisoModel, DvStepMovesAllThreeCopiesAlike) {
  SISOSim sim;
  sim.get_data().set("DV1", 34.0);  // before period 1
  for (int k = 1; k <= 21; ++k) {
    sim.run_task(k);
    const double expected = 31.0 + fopdt_step(3.3, 20, 4, k);
    EXPECT_NEAR(tag(sim, "CV1"), expected, 1e-9) << k;
    EXPECT_EQ(tag(sim, "OPEN_CV1"), tag(sim, "CV1"));
    EXPECT_EQ(tag(sim, "PID_CV1"), tag(sim, "CV1"));
  }
}

TEST(SisoModel, RandomDvOnlyAboveHalf) {
  SISOSim sim;
  sim.get_data().set("SET_DV1_RANDOM", 0.5);
  sim.get_data().set("DV1", 40.0);
  sim.run_task(1);
  EXPECT_EQ(tag(sim, "DV1"), 40.0);
  sim.get_data().set("SET_DV1_RANDOM", 0.51);
  sim.run_task(2);
  EXPECT_EQ(tag(sim, "DV1"), sim.dv1()[2]);
  EXPECT_NEAR(frame::mean(sim.dv1()), 33.0, 1e-9);
  EXPECT_NEAR(frame::population_std(sim.dv1()), 1.0, 1e-9);
}

TEST(SisoModel, LimitsBoundOnlyThePidOutput) {
  SISOSim sim;
  auto& data = sim.get_data();
  data.set("SP1", 40.0);
  data.set("MV1_HI", 29.5);
  data.set("MV1", 150.0);
  data.set("OPEN_MV1", -20.0);
  for (int k = 1; k <= 300; ++k) {
    sim.run_task(k);
    ASSERT_LE(tag(sim, "PID_MV1"), 29.5);
  }
  EXPECT_EQ(tag(sim, "MV1"), 150.0);
  EXPECT_EQ(tag(sim, "OPEN_MV1"), -20.0);
  EXPECT_NEAR(tag(sim, "CV1"), 31.0 + fopdt_step(3.8 * 121, 30, 17, 300), 1e-6);
  EXPECT_NEAR(tag(sim, "OPEN_CV1"), 31.0 + fopdt_step(3.8 * -49, 30, 17, 300), 1e-6);
}

TEST(SisoModel, PidFollowsSetpointWithoutOffset) {
  SISOSim sim;
  sim.get_data().set("SP1", 35);
  for (int k = 1; k <= 3000; ++k) {
    sim.run_task(k);
    ASSERT_GE(tag(sim, "PID_MV1"), 0.0);
    ASSERT_LE(tag(sim, "PID_MV1"), 100.0);
  }
  EXPECT_NEAR(tag(sim, "PID_CV1"), 35.0, 1e-6);
  EXPECT_NEAR(tag(sim, "PID_MV1"), 29.0 + 4.0 / 3.8, 1e-6);
  EXPECT_EQ(tag(sim, "CV1"), 31.0);  // the other copies are not affected
}

TEST(SisoModel, NanWrittenToMvIsHeldThenFollowsTheNextFiniteValue) {
  SISOSim sim;
  sim.get_data().set("MV1", std::numeric_limits<double>::quiet_NaN());
  run_periods(sim, 5);
  sim.get_data().set("MV1", 30.0);  // before period 6
  for (int k = 6; k <= 100; ++k) {
    sim.run_task(k);
    ASSERT_TRUE(std::isfinite(tag(sim, "CV1")));
    ASSERT_NEAR(tag(sim, "CV1"), 31.0 + fopdt_step(3.8, 30, 17, k - 6 + 1), 1e-9) << k;
  }
}

TEST(SisoModel, TwoObjectsHaveIdenticalSequences) {
  const SISOSim a;
  const SISOSim b;
  EXPECT_EQ(a.v1(), b.v1());
  EXPECT_EQ(a.dv1(), b.dv1());
  EXPECT_NEAR(frame::mean(a.v1()), 0.0, 1e-12);
  EXPECT_NEAR(frame::population_std(a.v1()), 1.0, 1e-12);
}

}  // namespace
}  // namespace varnok::siso
