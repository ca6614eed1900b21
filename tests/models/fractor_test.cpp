#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "fractor_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"

namespace varnok::fractor {
namespace {

using testing::fopdt_step;
using testing::run_periods;
using testing::tag;

constexpr std::size_t kCVs = ShellSim::kCVs;
constexpr std::array<double, kCVs> kInitialCV{31, 32, 33, 34, 35, 36, 37};
const std::array<std::string, 5> kInputs{"MV1", "MV2", "MV3", "DV1", "DV2"};

struct Lag {
  double gain, tau, delay;
};
// The plant's paths, CV-major, inputs in kInputs order; typed separately from
// the model so a mistyped coefficient there shows up here.
constexpr std::array<std::array<Lag, 5>, kCVs> kPaths{{
    {{{4.05, 50, 25}, {1.77, 60, 27}, {5.88, 50, 25}, {1.2, 45, 25}, {1.44, 40, 25}}},
    {{{5.39, 50, 17}, {5.72, 60, 17}, {6.9, 40, 15}, {1.52, 25, 15}, {1.83, 20, 15}}},
    {{{3.66, 9, 4}, {1.65, 30, 4}, {5.53, 40, 6}, {1.16, 11, 4}, {1.27, 6, 4}}},
    {{{5.92, 12, 8}, {2.54, 27, 9}, {8.1, 20, 9}, {1.73, 5, 8}, {1.79, 19, 9}}},
    {{{4.13, 8, 5}, {2.38, 19, 7}, {6.23, 10, 5}, {1.31, 2, 5}, {1.26, 22, 5}}},
    {{{4.06, 13, 7}, {4.18, 33, 7}, {6.53, 9, 5}, {1.19, 19, 5}, {1.17, 24, 5}}},
    {{{4.38, 33, 15}, {4.42, 44, 15}, {7.2, 19, 15}, {1.14, 27, 16}, {1.26, 32, 17}}},
}};

std::string cv(std::size_t i) {
  return "CV" + std::to_string(i + 1);
}
std::string open_cv(std::size_t i) {
  return "OPEN_CV" + std::to_string(i + 1);
}

// Noise and random DVs are on by default; closed-form checks need them off.
void quiet(ShellSim& sim) {
  sim.get_data().set("SET_CV_STD", 0);
  sim.get_data().set("SET_DV_RANDOM", 0);
}

// A step of `size` on input `input` (index into kInputs) written before
// period `at`.
struct Step {
  std::size_t input;
  double size;
  std::int64_t at;
  bool open = false;  // on the OPEN_ copy's MV instead of the main one
};

// Deviation of output `i` of one copy at period k under the given steps.
// Exactly 0.0 while every step is still inside its dead time.
double response(const std::vector<Step>& steps, std::size_t i, std::int64_t k, bool open_copy) {
  double sum = 0.0;
  for (const Step& s : steps) {
    const bool is_dv = s.input >= 3;
    if (k < s.at || (!is_dv && s.open != open_copy)) continue;
    const Lag& p = kPaths[i][s.input];
    sum += fopdt_step(s.size * p.gain, p.tau, p.delay, static_cast<double>(k - s.at + 1));
  }
  return sum;
}

void run_with_steps(const std::vector<Step>& steps, std::int64_t periods) {
  ShellSim sim;
  quiet(sim);
  auto& data = sim.get_data();
  for (std::int64_t k = 1; k <= periods; ++k) {
    for (const Step& s : steps) {
      if (s.at != k) continue;
      const std::string name = (s.open ? "OPEN_" : "") + kInputs[s.input];
      data.set(name, tag(sim, name) + s.size);
    }
    sim.run_task(k);
    for (std::size_t i = 0; i < kCVs; ++i) {
      const double main = response(steps, i, k, false);
      const double open = response(steps, i, k, true);
      // Inside the dead time nothing may move at all.
      if (main == 0.0) {
        ASSERT_EQ(tag(sim, cv(i)), kInitialCV[i]) << cv(i) << " at " << k;
      }
      if (open == 0.0) {
        ASSERT_EQ(tag(sim, open_cv(i)), kInitialCV[i]) << open_cv(i) << " at " << k;
      }
      ASSERT_NEAR(tag(sim, cv(i)), kInitialCV[i] + main, 1e-9) << cv(i) << " at " << k;
      ASSERT_NEAR(tag(sim, open_cv(i)), kInitialCV[i] + open, 1e-9) << open_cv(i) << " at " << k;
    }
  }
}

TEST(FractorTagSet, HasEveryTagInOrderWithItsKind) {
  std::vector<std::string> expected{"MV1", "MV2", "MV3", "DV1", "DV2"};
  for (std::size_t i = 0; i < kCVs; ++i) expected.push_back(cv(i));
  expected.insert(expected.end(), {"SET_CV_STD", "SET_DV_RANDOM", "OPEN_MV1", "OPEN_MV2", "OPEN_MV3"});
  for (std::size_t i = 0; i < kCVs; ++i) expected.push_back(open_cv(i));
  for (std::size_t i = 0; i < kCVs; ++i) expected.push_back(cv(i) + "std_10min");
  for (std::size_t i = 0; i < kCVs; ++i) expected.push_back(open_cv(i) + "std_10min");
  expected.push_back("RunCount");
  for (int b = 1; b <= 8; ++b) expected.push_back("BK" + std::to_string(b));
  ASSERT_EQ(sim_ini_dict.keys(), expected);

  for (const auto& [name, value] : sim_ini_dict) {
    const bool integer = name == "SET_CV_STD" || name == "SET_DV_RANDOM" || name == "RunCount";
    EXPECT_EQ(value.is_integer(), integer) << name;
  }
  EXPECT_EQ(sim_ini_dict.at("SET_CV_STD"), corvex::Value(1));
  EXPECT_EQ(sim_ini_dict.at("SET_DV_RANDOM"), corvex::Value(1));
  for (std::size_t i = 0; i < kCVs; ++i) EXPECT_EQ(sim_ini_dict.at(open_cv(i)), corvex::Value(kInitialCV[i]));
  EXPECT_EQ(sim_ini_dict.at("OPEN_MV3"), corvex::Value(35.0));
}

TEST(FractorSteadyState, OutputsStayExactWithSwitchesOff) {
  ShellSim sim;
  quiet(sim);
  for (std::int64_t k = 1; k <= 2000; ++k) {
    sim.run_task(k);
    for (std::size_t i = 0; i < kCVs; ++i) {
      ASSERT_EQ(tag(sim, cv(i)), kInitialCV[i]) << k;
      ASSERT_EQ(tag(sim, open_cv(i)), kInitialCV[i]) << k;
      ASSERT_EQ(tag(sim, cv(i) + "std_10min"), 0.0) << k;
      ASSERT_EQ(tag(sim, open_cv(i) + "std_10min"), 0.0) << k;
    }
  }
  EXPECT_EQ(tag(sim, "DV1"), 10.0);
  EXPECT_EQ(tag(sim, "DV2"), 10.0);
  for (int b = 1; b <= 8; ++b) EXPECT_EQ(tag(sim, "BK" + std::to_string(b)), 0.0);
  EXPECT_TRUE(sim.get_data().at("RunCount").is_integer());
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(2000));
}

TEST(FractorSteadyState, StartsWithNoiseAndRandomDvsOnAndBothCopiesGetTheSameSample) {
  ShellSim sim;
  // The random DVs start moving at period 1; the shortest DV dead time is 4.
  for (std::int64_t k = 1; k <= 4; ++k) {
    sim.run_task(k);
    const auto n = static_cast<std::size_t>(k);
    EXPECT_EQ(tag(sim, "DV1"), sim.dv().at("DV1")[n]);
    EXPECT_EQ(tag(sim, "DV2"), sim.dv().at("DV2")[n]);
    for (std::size_t i = 0; i < kCVs; ++i) {
      EXPECT_EQ(tag(sim, cv(i)), kInitialCV[i] + sim.v().at(cv(i))[n]) << cv(i) << " at " << k;
      EXPECT_EQ(tag(sim, open_cv(i)), tag(sim, cv(i))) << k;
    }
  }
  sim.run_task(5);
  EXPECT_NE(tag(sim, "CV3"), 33.0 + sim.v().at("CV3")[5]);  // DV1 and DV2 reach CV3 after 4 periods
}

TEST(FractorNoise, NonPositiveOrNanSwitchGivesNoNoise) {
  for (const corvex::Value level : {corvex::Value(0), corvex::Value(0.0), corvex::Value(-1.0),
                                    corvex::Value(std::numeric_limits<double>::quiet_NaN())}) {
    ShellSim sim;
    quiet(sim);
    sim.run_task(1);  // NaN is refused: the level in force stays
    sim.get_data().set("SET_CV_STD", level);
    run_periods(sim, 29);
    for (std::size_t i = 0; i < kCVs; ++i) {
      EXPECT_EQ(tag(sim, cv(i)), kInitialCV[i]);
      EXPECT_EQ(tag(sim, open_cv(i)), kInitialCV[i]);
    }
  }
}

TEST(FractorNoise, SwitchAtTwoGivesStandardDeviationTwoOverAFullCycle) {
  ShellSim sim;
  quiet(sim);
  sim.get_data().set("SET_CV_STD", 2);
  std::array<std::vector<double>, kCVs> noise;
  for (auto& n : noise) n.reserve(ShellSim::N);
  for (std::int64_t k = 1; k <= static_cast<std::int64_t>(ShellSim::N); ++k) {
    sim.run_task(k);
    for (std::size_t i = 0; i < kCVs; ++i) {
      const double value = tag(sim, cv(i));
      ASSERT_EQ(tag(sim, open_cv(i)), value) << k;
      noise[i].push_back(value - kInitialCV[i]);
    }
  }
  for (std::size_t i = 0; i < kCVs; ++i) {
    EXPECT_NEAR(frame::population_std(noise[i]), 2.0, 1e-9) << cv(i);
    EXPECT_NEAR(frame::mean(noise[i]), 0.0, 1e-9) << cv(i);
  }
}

TEST(FractorNoise, IndexWrapsAtSequenceLengthWhileRunCountGoesOn) {
  ShellSim sim;  // switches on
  sim.run_task(100000);
  EXPECT_EQ(tag(sim, "CV5"), 35.0 + sim.v().at("CV5")[0]);
  EXPECT_EQ(tag(sim, "DV2"), sim.dv().at("DV2")[0]);
  sim.run_task(100001);
  EXPECT_EQ(tag(sim, "CV5"), 35.0 + sim.v().at("CV5")[1]);
  EXPECT_EQ(tag(sim, "DV1"), sim.dv().at("DV1")[1]);
  EXPECT_EQ(sim.get_data().at("RunCount"), corvex::Value(100001));
}

TEST(FractorRandomDv, SwitchMustExceedHalfAndOtherwiseClientValuesAreUsed) {
  ShellSim sim;
  quiet(sim);
  auto& data = sim.get_data();
  data.set("SET_DV_RANDOM", 0.5);
  data.set("DV1", 12.0);
  data.set("DV2", 7.5);
  for (std::int64_t k = 1; k <= 40; ++k) {
    sim.run_task(k);
    ASSERT_EQ(tag(sim, "DV1"), 12.0);
    ASSERT_EQ(tag(sim, "DV2"), 7.5);
    const double expected = 33.0 + response({{3, 2.0, 1}, {4, -2.5, 1}}, 2, k, false);
    ASSERT_NEAR(tag(sim, "CV3"), expected, 1e-9) << k;
    ASSERT_EQ(tag(sim, "OPEN_CV3"), tag(sim, "CV3"));
  }

  data.set("SET_DV_RANDOM", 0.51);
  sim.run_task(41);
  // The walk is centred on the initial DV values, not on what was written.
  EXPECT_EQ(tag(sim, "DV1"), sim.dv().at("DV1")[41]);
  EXPECT_EQ(tag(sim, "DV2"), sim.dv().at("DV2")[41]);
}

TEST(FractorRandomDv, WalksHaveTheirCentresAndAmplitudes) {
  const ShellSim sim;
  EXPECT_EQ(sim.dv().keys(), (std::vector<std::string>{"DV1", "DV2"}));
  EXPECT_NEAR(frame::mean(sim.dv().at("DV1")), 10.0, 1e-9);
  EXPECT_NEAR(frame::population_std(sim.dv().at("DV1")), 1.3, 1e-9);
  EXPECT_NEAR(frame::mean(sim.dv().at("DV2")), 10.0, 1e-9);
  EXPECT_NEAR(frame::population_std(sim.dv().at("DV2")), 0.9, 1e-9);
}

TEST(FractorSteps, EachMainInputMovesEveryCvByItsLagAndLeavesTheOpenCopy) {
  for (std::size_t input = 0; input < 3; ++input) {
    SCOPED_TRACE(kInputs[input]);
    run_with_steps({{input, 1.5, 5}}, 1000);
  }
}

TEST(FractorSteps, EachOpenMvMovesOnlyTheOpenCopy) {
  for (std::size_t input = 0; input < 3; ++input) {
    SCOPED_TRACE("OPEN_" + kInputs[input]);
    run_with_steps({{input, -2.0, 3, true}}, 1000);
  }
}

TEST(FractorSteps, EachDvMovesBothCopiesAlike) {
  for (std::size_t input = 3; input < 5; ++input) {
    SCOPED_TRACE(kInputs[input]);
    run_with_steps({{input, 0.8, 2}}, 1000);
  }
}

TEST(FractorSteps, SeveralStepsAddUp) {
  run_with_steps({{0, 2.0, 3},
                  {2, -1.5, 40},
                  {1, 1.0, 10, true},
                  {4, 0.8, 100},
                  {0, -3.0, 250},
                  {3, -0.6, 251},
                  {2, 0.5, 600, true}},
                 1000);
}

TEST(FractorStatistics, WindowsCoverTheLastSixHundredValuesOfTheirOwnCv) {
  ShellSim sim;
  quiet(sim);
  auto& data = sim.get_data();
  data.set("SET_CV_STD", 0.7);
  data.set("MV1", 16.0);  // so that the two copies differ
  std::array<std::vector<double>, kCVs> main_history;
  std::array<std::vector<double>, kCVs> open_history;
  for (std::int64_t k = 1; k <= 750; ++k) {
    sim.run_task(k);
    for (std::size_t i = 0; i < kCVs; ++i) {
      main_history[i].push_back(tag(sim, cv(i)));
      open_history[i].push_back(tag(sim, open_cv(i)));
      const std::size_t n = std::min<std::size_t>(main_history[i].size(), 600);
      const std::span<const double> main_last(main_history[i].end() - static_cast<std::ptrdiff_t>(n),
                                              main_history[i].end());
      const std::span<const double> open_last(open_history[i].end() - static_cast<std::ptrdiff_t>(n),
                                              open_history[i].end());
      if (k == 1) {
        ASSERT_EQ(tag(sim, cv(i) + "std_10min"), 0.0);
        ASSERT_EQ(tag(sim, open_cv(i) + "std_10min"), 0.0);
      }
      ASSERT_NEAR(tag(sim, cv(i) + "std_10min"), frame::population_std(main_last), 1e-12) << k;
      ASSERT_NEAR(tag(sim, open_cv(i) + "std_10min"), frame::population_std(open_last), 1e-12) << k;
    }
  }
  EXPECT_NE(tag(sim, "CV1std_10min"), tag(sim, "OPEN_CV1std_10min"));
}

// The sequences rebuilt from the generator and the filters as documented,
// with the denominators as tabled rather than multiplied out.
TEST(FractorSequences, FollowTheDrawOrderFiltersAndScales) {
  const ShellSim sim;
  frame::NormalGenerator gen(1);
  const std::vector<std::vector<double>> noise_den{{1, -1.94, 0.9405}, {1, -1.94, 0.9405}, {1, -1.93, 0.931},
                                                   {1, -1.93, 0.931},  {1, -1.92, 0.9215}, {1, -1.93, 0.931},
                                                   {1, -1.93, 0.931}};
  const std::vector<double> noise_num{1, -0.5, 0.7};
  auto max_gap = [](const std::vector<double>& a, const std::vector<double>& b) {
    double gap = 0.0;
    for (std::size_t n = 0; n < a.size(); ++n) gap = std::max(gap, std::abs(a[n] - b[n]));
    return gap;
  };
  ASSERT_EQ(sim.v().keys(), (std::vector<std::string>{"CV1", "CV2", "CV3", "CV4", "CV5", "CV6", "CV7"}));
  for (std::size_t i = 0; i < kCVs; ++i) {
    std::vector<double> expected = frame::lfilter(noise_num, noise_den[i], gen.draw(ShellSim::N));
    frame::standardise(expected);
    EXPECT_LT(max_gap(sim.v().at(cv(i)), expected), 1e-9) << cv(i);
    EXPECT_NEAR(frame::mean(sim.v().at(cv(i))), 0.0, 1e-12);
    EXPECT_NEAR(frame::population_std(sim.v().at(cv(i))), 1.0, 1e-12);
  }
  const std::vector<double> walk_num{1, 0.7};
  const std::array<std::array<double, 2>, 2> weight_and_scale{{{5.5, 1.3}, {9.5, 0.9}}};
  for (std::size_t d = 0; d < 2; ++d) {
    const auto slow = frame::lfilter(walk_num, std::vector<double>{1, -1.9, 0.9025}, gen.draw(ShellSim::N));
    const auto fast = frame::lfilter(walk_num, std::vector<double>{1, -0.34, 0.0285}, gen.draw(ShellSim::N));
    std::vector<double> sum(ShellSim::N);
    for (std::size_t n = 0; n < sum.size(); ++n) sum[n] = slow[n] + weight_and_scale[d][0] * fast[n];
    const double m = frame::mean(sum);
    const double s = frame::population_std(sum);
    for (auto& x : sum) x = weight_and_scale[d][1] * (x - m) / s + 10.0;
    EXPECT_LT(max_gap(sim.dv().at(kInputs[3 + d]), sum), 1e-9) << kInputs[3 + d];
  }
}

TEST(FractorSequences, AreTheSameForEveryObjectWhateverWasBuiltBefore) {
  const ShellSim first;
  frame::NormalGenerator other(3);  // as another model's load would
  (void)other.draw(1000);
  const ShellSim second;
  EXPECT_EQ(first.v(), second.v());
  EXPECT_EQ(first.dv(), second.dv());
}

}  // namespace
}  // namespace varnok::fractor
