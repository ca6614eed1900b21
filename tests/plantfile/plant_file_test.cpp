#include "varnok/plantfile/plant_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bad_plant_files.h"

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

TEST(PlantFileReader, RefusesEveryBadFileWithItsPosition) {
  for (const auto& bad : bad_plant_files()) {
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
