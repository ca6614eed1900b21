#include "corvex/mimo_sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "corvex/messages.h"

namespace corvex {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TransferPath tf(std::vector<double> num, std::vector<double> den, double delay = 0.0, bool integral = false) {
  return {"tf_s", std::move(num), std::move(den), delay, integral};
}

// Unit step responses, zero up to the dead time. Sample times are products
// like 7·0.1, so the dead time is compared with a little slack.
bool before(double t, double delay) {
  return t <= delay + 1e-9;
}

std::function<double(double)> first_order(double k, double tau, double delay) {
  return [=](double t) { return before(t, delay) ? 0.0 : k * (1.0 - std::exp(-(t - delay) / tau)); };
}

// (b1·s + b0)/(s² + a1·s + a0) with complex poles −σ ± jω. Partial fractions
// of the step: A/s + (−A·(s + σ) + (b1 − σ·A))/((s + σ)² + ω²), A = b0/a0.
std::function<double(double)> second_order(double b1, double b0, double a1, double a0, double delay) {
  const double sigma = a1 / 2, omega = std::sqrt(a0 - sigma * sigma), gain = b0 / a0;
  return [=](double t) {
    if (before(t, delay)) return 0.0;
    const double u = t - delay;
    return gain - std::exp(-sigma * u) *
                      (gain * std::cos(omega * u) - (b1 - sigma * gain) / omega * std::sin(omega * u));
  };
}

// k/((τs + 1)·s): ramp k·t lagging by τ.
std::function<double(double)> integrating(double k, double tau, double delay) {
  return [=](double t) {
    return before(t, delay) ? 0.0 : k * ((t - delay) - tau * (1.0 - std::exp(-(t - delay) / tau)));
  };
}

struct StepCase {
  const char* name;
  TransferPath path;
  double ts;
  std::function<double(double)> step;
};

TEST(MIMOSimStep, MatchesClosedFormResponses) {
  const StepCase cases[] = {
      {"first_order_dead_time_17", tf({3.8}, {30, 1}, 17), 1.0, first_order(3.8, 30, 17)},
      {"second_order_zero_dead_time_4", tf({0.254, 1.8198}, {1, 0.3567, 0.2426}, 4), 1.0,
       second_order(0.254, 1.8198, 0.3567, 0.2426, 4)},
      {"first_order_dead_time_2.5", tf({3.8}, {30, 1}, 2.5), 1.0, first_order(3.8, 30, 2.5)},
      {"second_order_dead_time_2.5", tf({0.254, 1.8198}, {1, 0.3567, 0.2426}, 2.5), 1.0,
       second_order(0.254, 1.8198, 0.3567, 0.2426, 2.5)},
      {"first_order_ts_0.3_dead_time_1", tf({2.0}, {5, 1}, 1.0), 0.3, first_order(2.0, 5, 1.0)},
      {"integrating_dead_time_3", tf({0.08}, {30, 1}, 3, true), 1.0, integrating(0.08, 30, 3)},
      // Feedthrough paths: the gain is felt only once the dead time has passed.
      {"lead_lag_dead_time_0.5", tf({2, 1}, {1, 1}, 0.5), 1.0,
       [](double t) { return before(t, 0.5) ? 0.0 : 1.0 + std::exp(-(t - 0.5)); }},
      {"pure_gain_dead_time_3", tf({2.0}, {4.0}, 3), 1.0, [](double t) { return before(t, 3) ? 0.0 : 0.5; }},
      // 0.7/0.1 rounds below 7: still a whole number of periods.
      {"pure_gain_ts_0.1_dead_time_0.7", tf({2.0}, {4.0}, 0.7), 0.1,
       [](double t) { return before(t, 0.7) ? 0.0 : 0.5; }},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const int step_call : {1, 6}) {
      PlantDescription plant;
      plant["CV1"].set("MV1", c.path);
      MIMOSim sim(plant, {{"CV1", 31}, {"MV1", 29}}, c.ts);
      double max_error = 0.0;
      for (int k = 1; k <= 1000; ++k) {
        const double u = k >= step_call ? 30.0 : 29.0;
        const double y = sim.run({{"MV1", u}}).at("CV1").to_double();
        const double expected = 31.0 + c.step((k - step_call + 1) * c.ts);
        max_error = std::max(max_error, std::abs(y - expected));
        if (expected == 31.0) {
          ASSERT_EQ(y, 31.0) << "call " << k;
        }
      }
      EXPECT_LT(max_error, 1e-9);
      if (step_call == 1) RecordProperty(std::string("max_error_") + c.name, to_text(max_error));
    }
  }
}

TEST(MIMOSimStep, PathsOfSeveralInputsSuperpose) {
  PlantDescription plant;
  plant["CV1"].set("MV1", tf({3.8}, {30, 1}, 17));
  plant["CV1"].set("DV1", tf({0.254, 1.8198}, {1, 0.3567, 0.2426}, 4));
  plant["CV2"].set("MV1", tf({-1.5}, {10, 1}, 40.5));
  MIMOSim sim(plant, {{"CV1", 31}, {"CV2", 5.0}, {"MV1", 29}, {"DV1", 0.0}});
  EXPECT_EQ(sim.output_tags(), (std::vector<std::string>{"CV1", "CV2"}));
  EXPECT_EQ(sim.input_tags(), (std::vector<std::string>{"MV1", "DV1"}));

  const auto mv = first_order(3.8, 30, 17), dv = second_order(0.254, 1.8198, 0.3567, 0.2426, 4),
             mv2 = first_order(-1.5, 10, 40.5);
  for (int k = 1; k <= 300; ++k) {
    // MV1 +1 before call 1, DV1 +2 before call 10, MV1 −3 more before call 50.
    const ValueMap out = sim.run({{"MV1", k >= 50 ? 26.0 : 30.0}, {"DV1", k >= 10 ? 2.0 : 0.0}});
    const auto t = [k](int from) { return static_cast<double>(std::max(0, k - from + 1)); };
    ASSERT_NEAR(out.at("CV1").to_double(), 31 + mv(t(1)) + 2 * dv(t(10)) - 4 * mv(t(50)), 1e-9) << k;
    ASSERT_NEAR(out.at("CV2").to_double(), 5 + mv2(t(1)) - 4 * mv2(t(50)), 1e-9) << k;
    EXPECT_FALSE(out.at("CV1").is_integer());
  }
}

TEST(MIMOSimStep, LeadingZerosOfCoefficientsAreIgnored) {
  PlantDescription padded, plain;
  padded["CV1"].set("MV1", tf({0, 0, 3.8}, {0, 30, 1}, 2));
  plain["CV1"].set("MV1", tf({3.8}, {30, 1}, 2));
  const ValueMap init{{"CV1", 0}, {"MV1", 0}};
  MIMOSim a(padded, init), b(plain, init);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(a.run({{"MV1", 1}}).at("CV1"), b.run({{"MV1", 1}}).at("CV1"));
}

PlantDescription two_input_plant() {
  PlantDescription plant;
  plant["CV1"].set("MV1", tf({3.8}, {30, 1}, 3));
  plant["CV1"].set("DV1", tf({1.0}, {5, 1}, 0.5));
  return plant;
}

// a_ and b_ are twins; a test disturbs a_ and checks it still tracks b_.
class MIMOSimFaults : public ::testing::Test {
 protected:
  std::vector<double> run_both(int calls, double mv) {
    std::vector<double> diff;
    for (int k = 0; k < calls; ++k) {
      const ValueMap u{{"MV1", mv}, {"DV1", 1.0}};
      diff.push_back(a_.run(u).at("CV1").to_double() - b_.run(u).at("CV1").to_double());
    }
    return diff;
  }
  PlantDescription plant_ = two_input_plant();
  ValueMap init_{{"CV1", 31}, {"MV1", 29}, {"DV1", 0}};
  MIMOSim a_{plant_, init_}, b_{plant_, init_};
};

TEST_F(MIMOSimFaults, NoiseReachesOnlyTheReturnedValues) {
  for (int k = 1; k <= 40; ++k) {
    const ValueMap u{{"MV1", 30}, {"DV1", 1.0}};
    const double noise = k % 3 == 0 ? 0.25 * k : 0.0;
    const double noisy = a_.run(u, {{"CV1", noise}, {"CV9", 100.0}}).at("CV1").to_double();
    const double clean = b_.run(u).at("CV1").to_double();
    EXPECT_NEAR(noisy - noise, clean, 1e-12) << k;
  }
  EXPECT_EQ(run_both(40, 31), std::vector<double>(40, 0.0));
}

TEST_F(MIMOSimFaults, NonFiniteInputHoldsLastFiniteValueAndSaysSoOncePerEpisode) {
  // b_ sees the held value itself; a_ sees NaN/inf in its place.
  ::testing::internal::CaptureStdout();
  const double feed[] = {kNaN, 29,        30, kNaN, kNaN, std::numeric_limits<double>::infinity(),
                         32,   -HUGE_VAL, 32};
  double held = 29;
  for (const double u : feed) {
    if (std::isfinite(u)) held = u;
    const double ya = a_.run({{"MV1", u}, {"DV1", 1.0}}).at("CV1").to_double();
    const double yb = b_.run({{"MV1", held}, {"DV1", 1.0}}).at("CV1").to_double();
    EXPECT_EQ(ya, yb);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "MIMOSim: input \"MV1\" is not finite (nan); holding its last finite value 29.0\n"
            "MIMOSim: input \"MV1\" is not finite (nan); holding its last finite value 30.0\n"
            "MIMOSim: input \"MV1\" is not finite (-inf); holding its last finite value 32.0\n");
  EXPECT_EQ(run_both(30, 33), std::vector<double>(30, 0.0));
}

TEST_F(MIMOSimFaults, MissingInputThrowsAndLeavesStateUnchanged) {
  run_both(5, 30);
  ::testing::internal::CaptureStdout();
  try {
    a_.run({{"MV1", kNaN}});
    FAIL() << "no throw";
  } catch (const MissingKey& e) {
    EXPECT_EQ(e.key(), "DV1");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(run_both(30, 31), std::vector<double>(30, 0.0));
}

// Every kind of path, several to an output and in mixed order, so that each
// output's sum gathers terms of every kind.
PlantDescription mixed_plant() {
  PlantDescription plant;
  plant["CV1"].set("MV1", tf({3.8}, {30, 1}, 3));                        // lag, whole dead time
  plant["CV1"].set("DV1", tf({0.254, 1.8198}, {1, 0.3567, 0.2426}, 4));  // second order
  plant["CV1"].set("MV2", tf({-1.2}, {8, 1}, 7));                        // lag again
  plant["CV1"].set("DV2", tf({2, 1}, {1, 1}, 0.5));                      // feedthrough
  plant["CV2"].set("DV2", tf({2.0}, {4.0}, 3));                          // pure gain
  plant["CV2"].set("MV1", tf({0.08}, {30, 1}, 2, true));                 // integrating
  plant["CV2"].set("MV2", tf({1.5}, {10, 1}, 2.5));                      // lag, fractional dead time
  plant["CV3"].set("MV2", tf({-0.7}, {12, 1}, 0));
  plant["CV3"].set("MV1", tf({0.9}, {3, 1}, 5));
  return plant;
}

const ValueMap kMixedInit{{"CV1", 31}, {"CV2", 5.0}, {"CV3", -2.5}, {"MV1", 29},
                          {"MV2", 10}, {"DV1", 0.0}, {"DV2", 1.0}};

// Inputs that move every period, in input_tags() order of mixed_plant().
std::vector<double> mixed_inputs(int k) {
  const double t = k;
  return {29 + std::sin(t / 7) + (k > 40 ? 2 : 0), 10 - std::cos(t / 11), (k % 37 < 5 ? 1.5 : 0.0),
          1 + 0.3 * std::sin(t / 3)};
}

TEST(MIMOSimStep, EachOutputIsTheSumOfItsPathsAlone) {
  const PlantDescription plant = mixed_plant();
  MIMOSim whole(plant, kMixedInit);
  ASSERT_EQ(whole.input_tags(), (std::vector<std::string>{"MV1", "DV1", "MV2", "DV2"}));
  std::vector<std::pair<std::string, MIMOSim>> alone;
  for (const auto& [cv, paths] : plant) {
    for (const auto& [input, path] : paths) {
      PlantDescription one;
      one[cv].set(input, path);
      alone.emplace_back(cv, MIMOSim(one, kMixedInit));
    }
  }
  for (int k = 1; k <= 300; ++k) {
    const std::vector<double> u = mixed_inputs(k);
    const ValueMap inputs{{"MV1", u[0]}, {"DV1", u[1]}, {"MV2", u[2]}, {"DV2", u[3]}};
    const ValueMap out = whole.run(inputs);
    ValueMap sum = kMixedInit;
    for (auto& [cv, sim] : alone)
      sum.set(cv,
              sum.at(cv).to_double() + sim.run(inputs).at(cv).to_double() - kMixedInit.at(cv).to_double());
    for (const char* cv : {"CV1", "CV2", "CV3"})
      ASSERT_NEAR(out.at(cv).to_double(), sum.at(cv).to_double(),
                  1e-12 * std::max(1.0, std::abs(sum.at(cv).to_double())))
          << cv << " at " << k;
  }
}

// The entry points without names against run() with them: the same bits.
TEST(MIMOSimStep, RunWithoutNamesGivesTheBitsOfRun) {
  const PlantDescription plant = mixed_plant();
  MIMOSim by_name(plant, kMixedInit), by_span(plant, kMixedInit), by_place(plant, kMixedInit);
  // The live map keeps the tags in another order, among others.
  ValueMap live{{"X", 1},     {"DV2", 1.0}, {"CV3", -2.5}, {"MV2", 10}, {"CV1", 31},
                {"DV1", 0.0}, {"Y", 2},     {"CV2", 5.0},  {"MV1", 29}};
  const MIMOSim::Places places = by_place.places_in(live);
  ValueMap merged = live;
  std::vector<double> y(3);
  int said = 0;
  set_message_sink([&](const std::string&) { ++said; });
  struct Restore {
    ~Restore() { set_message_sink({}); }
  } restore;
  for (int k = 1; k <= 200; ++k) {
    std::vector<double> u = mixed_inputs(k);
    if (k == 50) u[2] = kNaN;  // held at its last finite value, said once by each
    const std::vector<double> noise{0.01 * k, -0.5, k % 2 == 0 ? 0.25 : 0.0};
    const ValueMap inputs{{"MV1", u[0]}, {"DV1", u[1]}, {"MV2", u[2]}, {"DV2", u[3]}};
    merged.merge(by_name.run(inputs, {{"CV1", noise[0]}, {"CV2", noise[1]}, {"CV3", noise[2]}}));
    by_span.run(u, y, noise);
    for (const auto& [tag, value] : inputs) live.set(tag, value);
    by_place.run_at(live, places, noise);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::string cv = by_name.output_tags()[i];
      ASSERT_TRUE(live.at(cv).same_as(merged.at(cv))) << cv << " at " << k;
      ASSERT_TRUE(Value(y[i]).same_as(merged.at(cv))) << cv << " at " << k;
    }
  }
  EXPECT_EQ(said, 3);  // each copy holds MV2 once
  EXPECT_EQ(live.at("X"), Value(1));
  EXPECT_EQ(live.keys().front(), "X");
}

TEST(MIMOSimStep, ACvStartingAtMinusZeroKeepsTheSignTheRunningSumGives) {
  // At rest every term is ±0: y0 + d·u + c·x with y0 = −0, d·u = +0 and
  // c·x = −0 (a negative gain) is +0, which a sum without the d·u term
  // would leave −0.
  PlantDescription plant;
  plant["CV1"].set("MV1", tf({-2.0}, {5, 1}, 2));
  MIMOSim sim(plant, {{"CV1", -0.0}, {"MV1", 3.0}});
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(std::signbit(sim.run({{"MV1", 3.0}}).at("CV1").to_double())) << k;
}

TEST(MIMOSimStep, RunWithoutNamesRefusesWhatDoesNotFit) {
  MIMOSim sim(mixed_plant(), kMixedInit);
  MIMOSim other(two_input_plant(), {{"CV1", 31}, {"MV1", 29}, {"DV1", 0}});
  std::vector<double> u(4, 1.0), y(3), short_y(2), noise(2);
  EXPECT_THROW(sim.run(std::span<const double>(u).first(3), y), std::invalid_argument);
  EXPECT_THROW(sim.run(u, short_y), std::invalid_argument);
  EXPECT_THROW(sim.run(u, y, noise), std::invalid_argument);

  ValueMap live = kMixedInit;
  EXPECT_THROW(sim.run_at(live, other.places_in(live), {}), std::invalid_argument);
  EXPECT_THROW(sim.run_at(live, sim.places_in(live), noise), std::invalid_argument);
  EXPECT_THROW(sim.places_in({{"CV1", 0}}), MissingKey);
  const MIMOSim::Places places = sim.places_in(live);
  ValueMap smaller{{"CV1", 0}};
  EXPECT_THROW(sim.run_at(smaller, places), std::out_of_range);
}

// The constructor's message, or "" when it accepts.
std::string refusal(const TransferPath& path, const ValueMap& init, double ts = 1.0) {
  PlantDescription plant;
  plant["TI7"].set("FV3", path);
  try {
    MIMOSim sim(plant, init, ts);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(MIMOSimConstruction, RefusalsNameTheOffendingPathAndValue) {
  const std::pair<TransferPath, const char*> refusals[] = {
      {{"ss", {1}, {1, 1}, 0, false}, "\"ss\""},
      {tf({1}, {}), "denominator"},
      {tf({1}, {0, 0}), "denominator"},
      {tf({1, 2, 3}, {1, 1}), "improper"},
      {tf({1, 2, 3, 4}, {1, 1}, 0, true), "improper"},
      {tf({1}, {1, kNaN}), "nan"},
      {tf({1}, {1, 1}, -1.0), "-1.0"},
      {tf({1}, {1, 1}, kNaN), "dead time"},
      {tf({1}, {1, 1}, 1e9), "dead time"},
  };
  const ValueMap init{{"TI7", 0}, {"FV3", 0}};
  for (const auto& [path, says] : refusals)
    EXPECT_THAT(refusal(path, init), AllOf(HasSubstr("TI7"), HasSubstr("FV3"), HasSubstr(says)));
  // An integrator makes (s + 2)/1 proper.
  EXPECT_EQ(refusal(tf({1, 2}, {1}, 0, true), init), "");
}

TEST(MIMOSimConstruction, RefusesBadPeriodAndMissingInitialValues) {
  const TransferPath path = tf({1}, {1, 1});
  const ValueMap init{{"TI7", 0}, {"FV3", 0}};
  EXPECT_THAT(refusal(path, init, 0.0), HasSubstr("Ts must be finite and > 0, got 0.0"));
  EXPECT_THAT(refusal(path, init, kNaN), HasSubstr("got nan"));
  EXPECT_THAT(refusal(path, {{"FV3", 0}}), AllOf(HasSubstr("CV"), HasSubstr("TI7")));
  EXPECT_THAT(refusal(path, {{"TI7", 0}}), AllOf(HasSubstr("input"), HasSubstr("FV3")));
  EXPECT_THAT(refusal(path, {{"TI7", 0}, {"FV3", kNaN}}), AllOf(HasSubstr("FV3"), HasSubstr("nan")));
}

}  // namespace
}  // namespace corvex
