#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fractor_model.h"
#include "model_runner.h"
#include "varnok/frame/noise.h"
#include "varnok/plantfile/file_plant.h"
#include "varnok/plantfile/plant_file.h"

namespace varnok::plantfile {
namespace {

using testing::tag;

PlantFile fractionator_file() {
  return read_plant_file(std::filesystem::path(VARNOK_EXAMPLE_PLANTS) / "shell_fractionator.yaml");
}

void set_switches(corvex::Simulink& sim, int noise, int walks) {
  sim.get_data().set(kNoiseSwitch, noise);
  sim.get_data().set(kRandomWalkSwitch, walks);
}

TEST(FractionatorFile, PublishesFractorsTagsWithTheirInitialValues) {
  const corvex::ValueMap tags = FilePlant::initial_tags(fractionator_file());
  for (const auto& [name, value] : tags) {
    ASSERT_TRUE(fractor::sim_ini_dict.contains(name)) << name;
    EXPECT_EQ(value, fractor::sim_ini_dict.at(name)) << name;
  }
}

// A step of `size` before period `at`, on `file_tag` in the file and on
// `fractor_tag` in Fractor. The file's main copy is driven as Fractor's
// open-loop copy and the other way round, so every copy of both is checked.
struct Step {
  std::string file_tag;
  std::string fractor_tag;
  double size;
  std::int64_t at;
};

TEST(FractionatorFile, EqualsFractorOverAThousandPeriodsOfSteps) {
  const std::vector<Step> steps{
      {"MV1", "OPEN_MV1", 2.0, 3},    {"DV2", "DV2", 0.8, 20},        {"MV3", "OPEN_MV3", -1.5, 40},
      {"OPEN_MV2", "MV2", 1.0, 55},   {"MV2", "OPEN_MV2", 0.7, 90},   {"DV1", "DV1", -0.6, 150},
      {"MV1", "OPEN_MV1", -3.0, 251}, {"OPEN_MV1", "MV1", -1.2, 300}, {"OPEN_MV3", "MV3", 2.5, 420},
      {"DV2", "DV2", -1.1, 600},      {"MV2", "OPEN_MV2", -0.4, 777},
  };
  FilePlant file(fractionator_file());
  fractor::ShellSim fractor;
  set_switches(file, 0, 0);
  set_switches(fractor, 0, 0);

  for (std::int64_t k = 1; k <= 1000; ++k) {
    for (const Step& s : steps) {
      if (s.at != k) continue;
      file.get_data().set(s.file_tag, tag(file, s.file_tag) + s.size);
      fractor.get_data().set(s.fractor_tag, tag(fractor, s.fractor_tag) + s.size);
    }
    file.run_task(k);
    fractor.run_task(k);
    for (int i = 1; i <= 7; ++i) {
      const std::string cv = "CV" + std::to_string(i);
      const std::string open_cv = "OPEN_" + cv;
      ASSERT_NEAR(tag(file, cv), tag(fractor, open_cv), 1e-12) << cv << " at " << k;
      ASSERT_NEAR(tag(file, open_cv), tag(fractor, cv), 1e-12) << open_cv << " at " << k;
    }
  }
  // Not equal by both standing still.
  EXPECT_GT(std::abs(tag(file, "CV1") - 31.0), 1.0);
  EXPECT_GT(std::abs(tag(file, "OPEN_CV7") - 37.0), 1.0);
  EXPECT_EQ(file.get_sampling_time(), fractor.get_sampling_time());
}

// The sequences differ in shape, but over one cycle of their length their
// levels are Fractor's: the noise with the walks off, the walks with the
// noise off.
TEST(FractionatorFile, NoiseAndWalkLevelsAreFractors) {
  const fractor::ShellSim fractor;
  const PlantFile plant = fractionator_file();
  const corvex::ValueMap initial = FilePlant::initial_tags(plant);
  ASSERT_EQ(FilePlant::kSequenceLength, fractor::ShellSim::N);

  struct Case {
    const char* what;
    int noise;
    int walks;
    // Tag -> Fractor's sequence: a CV's deviation, or a DV's value.
    const corvex::OrderedMap<std::vector<double>>* reference;
    bool deviation;
  };
  for (const Case& c : {Case{"noise", 1, 0, &fractor.v(), true}, Case{"walks", 0, 1, &fractor.dv(), false}}) {
    SCOPED_TRACE(c.what);
    FilePlant file(plant);
    set_switches(file, c.noise, c.walks);
    std::map<std::string, std::vector<double>> seen;
    for (std::int64_t k = 1; k <= static_cast<std::int64_t>(FilePlant::kSequenceLength); ++k) {
      file.run_task(k);
      for (const auto& [name, sequence] : *c.reference)
        seen[name].push_back(tag(file, name) - (c.deviation ? initial.at(name).to_double() : 0.0));
    }
    for (const auto& [name, sequence] : *c.reference) {
      EXPECT_NEAR(frame::population_std(seen[name]), frame::population_std(sequence), 1e-9) << name;
      EXPECT_NEAR(frame::mean(seen[name]), frame::mean(sequence), 1e-9) << name;
    }
  }
}

}  // namespace
}  // namespace varnok::plantfile
