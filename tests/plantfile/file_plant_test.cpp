#include "varnok/plantfile/file_plant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "varnok/plantfile/plant_file.h"

namespace varnok::plantfile {
namespace {

// A step of `size` on `input` written before period `period`.
struct Step {
  std::string input;
  double size;
  int period;
};

// Runs the file for `periods` and checks `output` against initial plus the
// sum, over the steps, of size·s((k − c + 1)·Ts), s the step response of
// that step's path, at every period.
void expect_step_responses(const std::string& yaml, const std::string& output, double initial,
                           const std::vector<Step>& steps,
                           const std::vector<std::function<double(double)>>& responses, double ts,
                           int periods) {
  const PlantFile file = parse_plant_file(yaml, "test.yaml");
  FilePlant plant(file);
  for (int k = 1; k <= periods; ++k) {
    for (const auto& step : steps) {
      if (step.period != k) continue;
      const auto it = std::find_if(file.inputs.begin(), file.inputs.end(),
                                   [&](const Input& in) { return in.tag == step.input; });
      plant.get_data().set(step.input, it->initial + step.size);
    }
    plant.run_task(k);
    double expected = initial;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (k >= steps[i].period) expected += steps[i].size * responses[i]((k - steps[i].period + 1) * ts);
    }
    ASSERT_NEAR(plant.get_data().at(output).to_double(), expected, 1e-9) << "period " << k;
  }
}

double first_order(double gain, double tau, double dead, double t) {
  return t <= dead ? 0.0 : gain * (1.0 - std::exp(-(t - dead) / tau));
}

TEST(FilePlantResponse, FirstOrderWithFractionalDeadTime) {
  expect_step_responses(R"(
name: lag
inputs: {U: {initial: 2}}
outputs:
  Y: {initial: 10, paths: {U: {gain: 1.5, time_constant: 7.3, dead_time: 2.4}}}
)",
                        "Y", 10, {{"U", 0.8, 3}}, {[](double t) { return first_order(1.5, 7.3, 2.4, t); }},
                        1.0, 60);
}

TEST(FilePlantResponse, SecondOrderWithAZero) {
  // (3s + 1)/((2s + 1)(s + 1)): s(t) = 1 − 2e^(−t) + e^(−t/2), overshooting 1.
  expect_step_responses(R"(
name: lead-lag
inputs: {U: {initial: 0}}
outputs:
  Y: {initial: 0, paths: {U: {num: [3, 1], den: [2, 3, 1], dead_time: 1.5}}}
)",
                        "Y", 0, {{"U", 2.0, 1}}, {[](double t) {
                          const double u = t - 1.5;
                          return u <= 0 ? 0.0 : 1.0 - 2.0 * std::exp(-u) + std::exp(-u / 2);
                        }},
                        1.0, 40);
}

TEST(FilePlantResponse, IntegratingPaths) {
  // K/s: a ramp; K/(s(Ts + 1)): the ramp delayed by the lag.
  const std::string yaml = R"(
name: level
inputs: {F: {initial: 1}}
outputs:
  L1: {initial: 5, paths: {F: {gain: 0.25, integrating: true, dead_time: 2}}}
  L2: {initial: 5, paths: {F: {gain: 0.25, time_constant: 4, integrating: true}}}
)";
  expect_step_responses(yaml, "L1", 5, {{"F", -1.0, 2}},
                        {[](double t) { return t <= 2 ? 0.0 : 0.25 * (t - 2); }}, 1.0, 30);
  expect_step_responses(yaml, "L2", 5, {{"F", -1.0, 2}},
                        {[](double t) { return 0.25 * (t - 4.0 * (1.0 - std::exp(-t / 4.0))); }}, 1.0, 30);
}

TEST(FilePlantResponse, PureGainWithDeadTime) {
  // time_constant 0, and left out: the same pure gain.
  const std::string yaml = R"(
name: gain
inputs: {U: {initial: 0}}
outputs:
  Y1: {initial: 1, paths: {U: {gain: 3, time_constant: 0, dead_time: 2.5}}}
  Y2: {initial: 1, paths: {U: {gain: 3, dead_time: 2.5}}}
)";
  for (const char* output : {"Y1", "Y2"})
    expect_step_responses(yaml, output, 1, {{"U", 1.0, 4}}, {[](double t) { return t <= 2.5 ? 0.0 : 3.0; }},
                          1.0, 12);
}

TEST(FilePlantResponse, SamplingTimeAndUnitOfTheFile) {
  // Every model time in minutes, a period of half a minute: the response
  // follows the file's times, and a period lasts 30 s of wall-clock time.
  const std::string yaml = R"(
name: minutes
time_unit: min
sampling_time: 0.5
inputs: {U: {initial: 0}}
outputs:
  Y: {initial: 0, paths: {U: {gain: 2, time_constant: 3, dead_time: 1.2}}}
)";
  EXPECT_DOUBLE_EQ(FilePlant(parse_plant_file(yaml, "m.yaml")).get_sampling_time(), 30.0);
  expect_step_responses(yaml, "Y", 0, {{"U", 1.0, 2}}, {[](double t) { return first_order(2, 3, 1.2, t); }},
                        0.5, 50);
}

TEST(FilePlantResponse, StepsOnTwoInputsSuperpose) {
  expect_step_responses(R"(
name: two inputs
inputs: {A: {initial: 1}, B: {initial: -1}}
outputs:
  Y:
    initial: 3
    paths:
      A: {gain: 2, time_constant: 5, dead_time: 1.5}
      B: {num: [-0.5], den: [3, 1], dead_time: 0.25}
)",
                        "Y", 3, {{"A", 1.0, 2}, {"B", 4.0, 7}},
                        {[](double t) { return first_order(2, 5, 1.5, t); },
                         [](double t) { return first_order(-0.5, 3, 0.25, t); }},
                        1.0, 40);
}

TEST(FilePlant, PublishesItsTagsInOrder) {
  const PlantFile file = parse_plant_file(R"(
name: tags
open_loop_copy: true
inputs: {MV: {initial: 1}, DV: {initial: 0, random_walk: {amplitude: 0.5}}}
outputs:
  CV: {initial: 2, noise: {std: 0.1}, paths: {MV: {gain: 1, time_constant: 2}, DV: {gain: 1}}}
)",
                                          "t.yaml");
  FilePlant plant(file);
  EXPECT_EQ(plant.get_data().keys(), (std::vector<std::string>{"MV", "DV", "CV", "OPEN_MV", "OPEN_CV",
                                                               "RunCount", "SET_CV_STD", "SET_DV_RANDOM"}));
  plant.run_task(1);
  EXPECT_EQ(plant.get_data().at("RunCount").to_double(), 1.0);
}

TEST(FilePlant, WithoutNoiseOrWalksHasNoSwitches) {
  FilePlant plant(
      parse_plant_file("name: n\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", "n.yaml"));
  EXPECT_EQ(plant.get_data().keys(), (std::vector<std::string>{"U", "Y", "RunCount"}));
  plant.run_task(1);
  EXPECT_EQ(plant.get_data().at("Y").to_double(), 0.0);
}

const char* const kNoisy = R"(
name: noisy
open_loop_copy: true
inputs: {MV: {initial: 1}, DV: {initial: 4, random_walk: {amplitude: 0.5}}}
outputs:
  CV: {initial: 2, noise: {std: 0.1}, paths: {MV: {gain: 1, time_constant: 2}, DV: {gain: 1, time_constant: 3}}}
)";

std::vector<std::vector<double>> run_noisy(int periods, const std::function<void(FilePlant&, int)>& before) {
  FilePlant plant(parse_plant_file(kNoisy, "noisy.yaml"));
  std::vector<std::vector<double>> rows;
  for (int k = 1; k <= periods; ++k) {
    before(plant, k);
    plant.run_task(k);
    const auto& d = plant.get_data();
    rows.push_back({d.at("DV").to_double(), d.at("CV").to_double(), d.at("OPEN_CV").to_double(),
                    d.at("SET_CV_STD").to_double()});
  }
  return rows;
}

TEST(FilePlantNoise, TheSameFileGivesTheSameSequence) {
  const auto nothing = [](FilePlant&, int) {};
  const auto first = run_noisy(50, nothing);
  EXPECT_EQ(first, run_noisy(50, nothing));
  // The walk moves the DV, noise moves the CV, and both copies see the same.
  EXPECT_NE(first[10][0], 4.0);
  for (const auto& row : first) EXPECT_DOUBLE_EQ(row[1], row[2]);
}

TEST(FilePlantNoise, SwitchesTurnNoiseAndWalksOff) {
  const auto off = run_noisy(30, [](FilePlant& plant, int k) {
    if (k == 1) {
      plant.get_data().set("SET_CV_STD", 0);
      plant.get_data().set("SET_DV_RANDOM", 0);
    }
  });
  for (const auto& row : off) {
    EXPECT_EQ(row[0], 4.0);
    EXPECT_NEAR(row[1], 2.0, 1e-12);
  }
}

TEST(FilePlantNoise, AnUnusableSettingIsRefusedAndTheLastStays) {
  FilePlant plant(parse_plant_file(kNoisy, "noisy.yaml"));
  plant.get_data().set("SET_CV_STD", std::nan(""));
  plant.get_data().set("MV", 1e300);
  plant.run_task(1);
  EXPECT_EQ(plant.get_data().at("SET_CV_STD").to_double(), 1.0);
  EXPECT_EQ(plant.get_data().at("MV").to_double(), 1.0);
}

// A level: integrating from the inflow valve, a PI loop on it.
const char* const kLevelLoop = R"(
name: level
inputs: {FV: {initial: 40, low: 0, high: 100}}
outputs: {LT: {initial: 50, paths: {FV: {gain: 0.02, integrating: true, dead_time: 2}}}}
controllers:
  LC: {measurement: LT, output: FV, setpoint: 50, kp: 4, ti: 40}
)";

TEST(FilePlantController, PublishesItsTunablesAfterTheOutputs) {
  FilePlant plant(parse_plant_file(kLevelLoop, "level.yaml"));
  EXPECT_EQ(plant.get_data().keys(),
            (std::vector<std::string>{"FV", "LT", "LC_SP", "LC_MODE", "LC_KP", "LC_TI", "LC_TD", "LC_OP_LO",
                                      "LC_OP_HI", "RunCount"}));
  // The input's range is the loop's output range unless the file says otherwise.
  EXPECT_EQ(plant.get_data().at("LC_OP_HI").to_double(), 100.0);
}

TEST(FilePlantController, BringsTheLevelToANewSetpointWithinItsLimits) {
  FilePlant plant(parse_plant_file(kLevelLoop, "level.yaml"));
  plant.get_data().set("LC_SP", 60);
  double highest = 0;
  for (int k = 1; k <= 2000; ++k) {
    plant.run_task(k);
    highest = std::max(highest, plant.get_data().at("FV").to_double());
  }
  EXPECT_NEAR(plant.get_data().at("LT").to_double(), 60.0, 1e-6);
  // An integrating level settles only with the inflow back where it started.
  EXPECT_NEAR(plant.get_data().at("FV").to_double(), 40.0, 1e-6);
  EXPECT_LE(highest, 100.0);
}

TEST(FilePlantController, ManualModeLeavesTheInputToTheClient) {
  FilePlant plant(parse_plant_file(kLevelLoop, "level.yaml"));
  plant.get_data().set("LC_MODE", 0);
  plant.get_data().set("LC_SP", 70);
  plant.get_data().set("FV", 45);
  for (int k = 1; k <= 50; ++k) plant.run_task(k);
  EXPECT_EQ(plant.get_data().at("FV").to_double(), 45.0);
  EXPECT_GT(plant.get_data().at("LT").to_double(), 50.0);
}

TEST(FilePlantController, UnusableTuningIsRefusedAndTheLastStays) {
  FilePlant plant(parse_plant_file(kLevelLoop, "level.yaml"));
  plant.get_data().set("LC_KP", std::nan(""));
  plant.get_data().set("LC_OP_LO", 200);  // above OP_HI
  plant.run_task(1);
  EXPECT_EQ(plant.get_data().at("LC_KP").to_double(), 4.0);
  EXPECT_EQ(plant.get_data().at("LC_OP_LO").to_double(), 0.0);
  EXPECT_TRUE(std::isfinite(plant.get_data().at("FV").to_double()));
}

TEST(FilePlant, TellsClientsTheFilesUnitsAndRanges) {
  FilePlant plant(parse_plant_file(kLevelLoop, "level.yaml"));
  const auto info = plant.tag_info();
  const auto of = [&](const std::string& tag) {
    const auto it =
        std::find_if(info.begin(), info.end(), [&](const auto& entry) { return entry.first == tag; });
    return it == info.end() ? corvex::TagInfo{} : it->second;
  };
  EXPECT_EQ(of("FV").high, 100.0);
  EXPECT_FALSE(of("LT").low.has_value());
  EXPECT_NE(of("LC_SP").description.find("LT"), std::string::npos);
}

}  // namespace
}  // namespace varnok::plantfile
