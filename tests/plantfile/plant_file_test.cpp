#include "varnok/plantfile/plant_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnok::plantfile {
namespace {

const char* const kGood = R"(name: Wood-Berry column
description: Methanol-water column
group: WB1
time_unit: min
sampling_time: 1.0
open_loop_copy: true
inputs:
  MV1: {initial: 1.95, unit: "kg/min", low: 0, high: 4, description: Reflux flow}
  DV1: {initial: 0.0, random_walk: {amplitude: 0.05}}
outputs:
  CV1:
    initial: 96.25
    noise: {std: 0.1}
    paths:
      MV1: {gain: 12.8, time_constant: 16.7, dead_time: 1}
      DV1: {num: [3.8], den: [14.9, 1], dead_time: 8.1, integrating: true}
)";

TEST(PlantFileReader, ReadsEveryField) {
  const PlantFile plant = parse_plant_file(kGood, "wb.yaml");
  EXPECT_EQ(plant.name, "Wood-Berry column");
  EXPECT_EQ(plant.group, "WB1");
  EXPECT_EQ(plant.time_unit, TimeUnit::kMinute);
  EXPECT_DOUBLE_EQ(plant.period_seconds(), 60.0);
  EXPECT_TRUE(plant.open_loop_copy);
  ASSERT_EQ(plant.inputs.size(), 2u);
  EXPECT_EQ(plant.inputs[0].info.unit, "kg/min");
  EXPECT_EQ(plant.inputs[0].info.low, 0.0);
  EXPECT_EQ(plant.inputs[0].info.high, 4.0);
  EXPECT_EQ(plant.inputs[0].info.description, "Reflux flow");
  EXPECT_DOUBLE_EQ(plant.inputs[1].random_walk->amplitude, 0.05);
  ASSERT_EQ(plant.outputs.size(), 1u);
  const auto& paths = plant.outputs[0].paths;
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0].num, std::vector<double>{12.8});
  EXPECT_EQ(paths[0].den, (std::vector<double>{16.7, 1}));
  EXPECT_TRUE(paths[1].integrating);
  EXPECT_DOUBLE_EQ(paths[1].dead_time, 8.1);
  EXPECT_EQ(paths[1].where.line, 16);
  EXPECT_EQ(paths[1].where.column, 7);
}

TEST(PlantFileReader, RecognisesPlantFileNames) {
  EXPECT_TRUE(is_plant_file_name("plants/wb.yaml"));
  EXPECT_TRUE(is_plant_file_name("WB.YML"));
  EXPECT_FALSE(is_plant_file_name("varnok.SISO"));
  EXPECT_FALSE(is_plant_file_name(".yaml"));
}

struct BadFile {
  const char* what;
  std::string text;
  int line;
  int column;
  const char* says;
};

// Each case is a small file with one fault; the message must point at it.
const std::vector<BadFile> kBadFiles = {
    {"not YAML", "name: x\ninputs: {U: {initial: 0}\n", 3, 1, "not valid YAML"},
    {"not a mapping", "- a\n- b\n", 1, 1, "expected a mapping"},
    {"no name", "inputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 1, 1,
     "missing required key \"name\""},
    {"no outputs", "name: x\ninputs: {U: {initial: 0}}\n", 1, 1, "missing required key \"outputs\""},
    {"no initial", "name: x\ninputs:\n  U: {unit: m}\noutputs: {Y: {initial: 0}}\n", 3, 6,
     "missing required key \"initial\""},
    {"unknown top key", "name: x\nsampling_tme: 2\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n",
     2, 1, "unknown key \"sampling_tme\""},
    {"unknown input key", "name: x\ninputs:\n  U: {initial: 0, hi: 3}\noutputs: {Y: {initial: 0}}\n", 3, 19,
     "unknown key \"hi\""},
    {"unknown noise key", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, noise: {sd: 1}}\n",
     4, 27, "unknown key \"sd\""},
    {"unknown path key",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y:\n    initial: 0\n    paths:\n      U: {gain: 1, "
     "tau: 2}\n",
     7, 20, "unknown key \"tau\""},
    {"key twice", "name: x\nname: y\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 1,
     "given twice"},
    {"path from a non-input",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y:\n    initial: 0\n    paths:\n      V: {gain: 1}\n",
     7, 7, "\"V\" is not an input"},
    {"improper",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1, 0], den: [2]}}}\n",
     4, 36, "improper"},
    {"non-finite coefficient",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [.inf, "
     "1]}}}\n",
     4, 47, "must be finite"},
    {"nan gain",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: .nan}}}\n", 4, 37,
     "must be finite"},
    {"all-zero den",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [0, 0]}}}\n",
     4, 46, "all zeros"},
    {"leading-zero den",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [0, 2, "
     "1]}}}\n",
     4, 46, "starts with 0"},
    {"gain and num",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, num: [1]}}}\n", 4,
     30, "either"},
    {"negative time constant",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, time_constant: "
     "-3}}}\n",
     4, 55, "must not be negative"},
    {"negative dead time",
     "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, dead_time: "
     "-0.5}}}\n",
     4, 51, "must not be negative"},
    {"zero sampling time",
     "name: x\nsampling_time: 0\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 16,
     "greater than 0"},
    {"infinite sampling time",
     "name: x\nsampling_time: .inf\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 16,
     "must be finite"},
    {"text for a number", "name: x\ninputs: {U: {initial: ten}}\noutputs: {Y: {initial: 0}}\n", 2, 23,
     "must be a number"},
    {"bad time unit", "name: x\ntime_unit: minutes\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n",
     2, 12, "s, min or h"},
    {"duplicate input",
     "name: x\ninputs:\n  U: {initial: 0}\n  U: {initial: 1}\noutputs: {Y: {initial: 0}}\n", 4, 3,
     "duplicate tag \"U\""},
    {"output named like an input", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  U: {initial: 0}\n", 4, 3,
     "duplicate tag \"U\""},
    {"tag of the plant's own", "name: x\ninputs: {RunCount: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2,
     10, "publishes itself"},
    {"open copy meets a tag",
     "name: x\nopen_loop_copy: true\ninputs: {U: {initial: 0}, OPEN_U: {initial: 0}}\noutputs: {Y: {initial: "
     "0}}\n",
     3, 10, "duplicate tag \"OPEN_U\""},
    {"empty tag", "name: x\ninputs: {\"\": {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 10,
     "empty tag name"},
    {"blank in a tag", "name: x\ninputs: {\"MV 1\": {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 10,
     "contains blanks"},
    {"dot in a tag", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y.PV: {initial: 0}\n", 4, 3,
     "contains \".\""},
    {"dot in the group", "name: x\ngroup: A.B\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 8,
     "contains \".\""},
    {"empty value", "name: x\ninputs:\n  U:\noutputs: {Y: {initial: 0}}\n", 3, 3, "must be a mapping"},
    {"low above high", "name: x\ninputs: {U: {initial: 0, low: 5, high: 1}}\noutputs: {Y: {initial: 0}}\n", 2,
     40, "high is below low"},
};

TEST(PlantFileReader, RefusesEveryBadFileWithItsPosition) {
  for (const auto& bad : kBadFiles) {
    SCOPED_TRACE(bad.what);
    try {
      parse_plant_file(bad.text, "bad.yaml");
      ADD_FAILURE() << "accepted";
    } catch (const PlantFileError& e) {
      EXPECT_EQ(e.line(), bad.line) << e.what();
      EXPECT_EQ(e.column(), bad.column) << e.what();
      EXPECT_NE(e.reason().find(bad.says), std::string::npos) << e.what();
      const std::string prefix =
          "bad.yaml:" + std::to_string(bad.line) + ":" + std::to_string(bad.column) + ": ";
      EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace varnok::plantfile
