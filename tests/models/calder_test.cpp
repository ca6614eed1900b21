#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "calder_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"

namespace varnok::calder {

namespace {

using corvex::Value;
using testing::fopdt_step;
using testing::run_periods;
using testing::tag;

const char* const kCvs[] = {"CV1", "CV2", "CV3"};
const char* const kOpenCvs[] = {"OPEN_CV1", "OPEN_CV2", "OPEN_CV3"};
constexpr double kCvInit[] = {41.0, 42.0, 43.0};

// Gain, time constant and dead time of each path, by CV and input.
struct Lag {
  double k, t, d;
  double step(double seconds) const { return fopdt_step(k, t, d, seconds); }
};
constexpr Lag kMv1[] = {{4.05, 20, 5}, {-1.39, 50, 7}, {1.2, 40, 5}};
constexpr Lag kMv2[] = {{1.77, 60, 8}, {5.72, 15, 7}, {1.5, 35, 6}};
constexpr Lag kDv1[] = {{3.3, 20, 4}, {1.2, 25, 4}, {2.0, 25, 5}};

std::string joined(const std::vector<std::string>& tags) {
  std::string out;
  for (const auto& t : tags) out += (out.empty() ? "" : " ") + t;
  return out;
}

TEST(CalderModel, TagSetInOrderWithItsKinds) {
  EXPECT_EQ(joined(sim_ini_dict.keys()),
            "MV1 MV2 DV1 CV1 CV2 CV3 SET_CV_STD SET_DV_RANDOM OPEN_MV1 OPEN_MV2 OPEN_CV1 "
            "OPEN_CV2 OPEN_CV3 CV1std_10min CV2std_10min CV3std_10min OPEN_CV1std_10min "
            "OPEN_CV2std_10min OPEN_CV3std_10min SP1 SP2 SP3 RunCount BK1 BK2 BK3 BK4 BK5 "
            "BK6 BK7 BK8");
  for (const char* integer :
       {"MV1", "MV2", "DV1", "CV1", "CV3", "OPEN_MV2", "OPEN_CV3", "SP1", "SP3", "RunCount"})
    EXPECT_TRUE(sim_ini_dict.at(integer).is_integer()) << integer;
  for (const char* real : {"SET_CV_STD", "SET_DV_RANDOM", "CV1std_10min", "OPEN_CV3std_10min", "BK1"})
    EXPECT_FALSE(sim_ini_dict.at(real).is_integer()) << real;
}

TEST(CalderModel, SteadyStateStaysExactWithZeroStatistics) {
  Sim sim;
  for (int k = 1; k <= 2000; ++k) {
    sim.run_task(k);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(tag(sim, kCvs[i]), kCvInit[i]);
      ASSERT_EQ(tag(sim, kOpenCvs[i]), kCvInit[i]);
      ASSERT_EQ(tag(sim, std::string(kCvs[i]) + "std_10min"), 0.0);
      ASSERT_EQ(tag(sim, std::string(kOpenCvs[i]) + "std_10min"), 0.0);
    }
  }
  EXPECT_EQ(sim.get_data().at("RunCount"), Value(2000));
}

TEST(CalderModel, Mv1StepMovesEachCvAfterItsDeadTime) {
  Sim sim;
  const int c = 3;
  run_periods(sim, c - 1);
  sim.get_data().set("MV1", 36);
  for (int k = c; k <= 1000; ++k) {
    sim.run_task(k);
    const double t = k - c + 1;
    for (int i = 0; i < 3; ++i) {
      ASSERT_NEAR(tag(sim, kCvs[i]), kCvInit[i] + kMv1[i].step(t), 1e-9) << kCvs[i] << " at " << k;
      ASSERT_EQ(tag(sim, kOpenCvs[i]), kCvInit[i]);
    }
    if (t <= 5) {
      ASSERT_EQ(tag(sim, "CV1"), 41.0) << k;
    }
    if (t <= 7) {
      ASSERT_EQ(tag(sim, "CV2"), 42.0) << k;
    }
    if (t <= 5) {
      ASSERT_EQ(tag(sim, "CV3"), 43.0) << k;
    }
    if (t > 8) {
      ASSERT_GT(tag(sim, "CV1"), 41.0);
      ASSERT_LT(tag(sim, "CV2"), 42.0);
      ASSERT_GT(tag(sim, "CV3"), 43.0);
    }
  }
}

TEST(CalderModel, StepsOnBothCopiesAndTheDvAddUp) {
  Sim sim;
  auto& data = sim.get_data();
  for (int k = 1; k <= 1000; ++k) {
    if (k == 1) data.set("MV1", 36.0);
    if (k == 100) data.set("OPEN_MV2", 41.0);
    if (k == 200) data.set("MV2", 39.5);
    if (k == 400) data.set("DV1", 35);
    sim.run_task(k);
    for (int i = 0; i < 3; ++i) {
      const double dv = 2.0 * kDv1[i].step(k - 400 + 1);
      const double main = kCvInit[i] + kMv1[i].step(k) - 0.5 * kMv2[i].step(k - 200 + 1) + dv;
      const double open = kCvInit[i] + kMv2[i].step(k - 100 + 1) + dv;
      ASSERT_NEAR(tag(sim, kCvs[i]), main, 1e-9) << kCvs[i] << " at " << k;
      ASSERT_NEAR(tag(sim, kOpenCvs[i]), open, 1e-9) << kOpenCvs[i] << " at " << k;
    }
  }
}

TEST(CalderModel, PlantsAdvanceOneSecondPerPeriodWhateverTheSamplingTime) {
  Sim sim(corvex::Simulink::Options{.sampling_time = 0.5});
  ASSERT_EQ(sim.get_sampling_time(), 0.5);
  sim.get_data().set("MV2", 41);
  for (int k = 1; k <= 200; ++k) {
    sim.run_task(k);
    ASSERT_NEAR(tag(sim, "CV2"), 42.0 + kMv2[1].step(k), 1e-9) << k;
  }
}

TEST(CalderModel, CvAndItsOpenCopyGetTheSameNoiseSample) {
  Sim sim;
  sim.get_data().set("SET_CV_STD", 1.5);
  for (int k = 1; k <= 50; ++k) {
    sim.run_task(k);
    const auto idx = static_cast<std::size_t>(k);
    for (int i = 0; i < 3; ++i) {
      const double expected = kCvInit[i] + 1.5 * sim.v().at(kCvs[i])[idx];
      ASSERT_EQ(tag(sim, kCvs[i]), expected);
      ASSERT_EQ(tag(sim, kOpenCvs[i]), expected);
    }
  }
  EXPECT_NE(sim.v().at("CV1")[7], sim.v().at("CV2")[7]);  // each CV has a noise of its own
}

TEST(CalderModel, NoiseOfStdTwoOverAFullCycle) {
  Sim sim;
  sim.get_data().set("SET_CV_STD", 2);
  std::vector<double> noise;
  noise.reserve(Sim::N);
  for (std::int64_t k = 1; k <= static_cast<std::int64_t>(Sim::N); ++k) {
    sim.run_task(k);
    noise.push_back(tag(sim, "CV3") - 43.0);
  }
  EXPECT_NEAR(frame::population_std(noise), 2.0, 1e-9);
  EXPECT_NEAR(noise.back(), 2.0 * sim.v().at("CV3")[0], 1e-12);  // period N uses index 0
  EXPECT_EQ(sim.get_data().at("RunCount"), Value(static_cast<std::int64_t>(Sim::N)));
}

TEST(CalderModel, StatisticsCoverTheLastSixHundredValues) {
  Sim sim;
  sim.get_data().set("SET_CV_STD", 1.0);
  sim.run_task(1);
  EXPECT_EQ(tag(sim, "CV1std_10min"), 0.0);  // one value so far
  std::vector<double> cv2{tag(sim, "CV2")};
  std::vector<double> open_cv3{tag(sim, "OPEN_CV3")};
  for (int k = 2; k <= 700; ++k) {
    sim.run_task(k);
    cv2.push_back(tag(sim, "CV2"));
    open_cv3.push_back(tag(sim, "OPEN_CV3"));
  }
  EXPECT_NEAR(tag(sim, "CV2std_10min"), frame::population_std(std::span(cv2).last(600)), 1e-12);
  EXPECT_NEAR(tag(sim, "OPEN_CV3std_10min"), frame::population_std(std::span(open_cv3).last(600)), 1e-12);
  EXPECT_GT(std::abs(frame::population_std(cv2) - frame::population_std(std::span(cv2).last(600))), 1e-6);
}

TEST(CalderModel, RandomDvOnlyAboveHalfAndKeepsTheWalksOwnCentre) {
  Sim sim;
  sim.get_data().set("SET_DV_RANDOM", 0.5);
  sim.get_data().set("DV1", 40.0);
  sim.run_task(1);
  EXPECT_EQ(tag(sim, "DV1"), 40.0);
  sim.get_data().set("SET_DV_RANDOM", 0.51);
  sim.run_task(2);
  EXPECT_EQ(tag(sim, "DV1"), sim.dv1()[2]);
  EXPECT_NEAR(frame::population_std(sim.dv1()), 1.0, 1e-9);
  EXPECT_GT(std::abs(frame::mean(sim.dv1()) - 33.0), 1e-3);
  EXPECT_LT(std::abs(frame::mean(sim.dv1()) - 33.0), 1.0);
}

TEST(CalderModel, SequencesComeFromSeedOneInDrawOrder) {
  frame::NormalGenerator gen(1);
  const std::vector noise_num{1.0, -0.5, 0.3};
  const auto noise_den = frame::poly_mul(std::vector{1.0, -0.95}, std::vector{1.0, -0.99});
  std::vector<std::vector<double>> v;
  for (int i = 0; i < 3; ++i) v.push_back(frame::lfilter(noise_num, noise_den, gen.draw(Sim::N)));
  const std::vector walk_num{1.0, -0.5, 0.7};
  const auto slow = frame::lfilter(
      walk_num, frame::poly_mul(std::vector{1.0, -0.97}, std::vector{1.0, -0.97}), gen.draw(Sim::N));
  const auto fast = frame::lfilter(
      walk_num, frame::poly_mul(std::vector{1.0, -0.15}, std::vector{1.0, -0.19}), gen.draw(Sim::N));
  std::vector<double> walk(Sim::N);
  for (std::size_t i = 0; i < Sim::N; ++i) walk[i] = slow[i] + 10.0 * fast[i];
  const double sigma = frame::population_std(walk);

  frame::NormalGenerator other(1);
  other.draw(1000);  // draws elsewhere before construction change nothing
  const Sim a;
  const Sim b;
  EXPECT_EQ(a.dv1(), b.dv1());
  ASSERT_EQ(a.v().keys(), (std::vector<std::string>{"CV1", "CV2", "CV3"}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(a.v().at(kCvs[i]), b.v().at(kCvs[i]));
    frame::standardise(v[static_cast<std::size_t>(i)]);
    double worst = 0.0;
    for (std::size_t n = 0; n < Sim::N; ++n)
      worst = std::max(worst, std::abs(a.v().at(kCvs[i])[n] - v[static_cast<std::size_t>(i)][n]));
    EXPECT_LT(worst, 1e-9) << kCvs[i];
  }
  double worst_dv = 0.0;
  for (std::size_t n = 0; n < Sim::N; ++n)
    worst_dv = std::max(worst_dv, std::abs(a.dv1()[n] - (walk[n] / sigma + 33.0)));
  EXPECT_LT(worst_dv, 1e-9);
}

}  // namespace
}  // namespace varnok::calder
