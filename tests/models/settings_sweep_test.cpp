// Every setting of every plant written with values no plant can use: the
// plant must keep running exactly as a twin that only ever received the
// usable ones, with every tag finite, and say so once per episode.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "brinell_model.h"
#include "calder_model.h"
#include "corvex/messages.h"
#include "dunmore_model.h"
#include "farrow_model.h"
#include "fractor_model.h"
#include "model_runner.h"
#include "siso_model.h"

namespace varnok {
namespace {

using frame::PlantSimulation;
using frame::SettingKind;
using frame::SettingRule;

struct Plant {
  const char* name;
  std::unique_ptr<PlantSimulation> (*make)();
};

template <typename Sim>
std::unique_ptr<PlantSimulation> make() {
  return std::make_unique<Sim>();
}

const Plant kPlants[] = {
    {"SISO", make<siso::SISOSim>},       {"Brinell", make<brinell::SISOSim>},
    {"Calder", make<calder::Sim>},       {"Fractor", make<fractor::ShellSim>},
    {"Dunmore", make<dunmore::LPVSISO>}, {"Farrow", make<farrow::DV_Prd>},
};

struct Write {
  double value;
  bool must_be_refused;
};

// One episode each: values no plant can use, a negative one, and a limit
// just across its partner.
std::vector<Write> writes_for(const SettingRule& rule, const corvex::ValueMap& data) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::vector<Write> out{{std::numeric_limits<double>::quiet_NaN(), true},
                         {inf, true},
                         {-inf, true},
                         {1e308, false},
                         {-1e308, false},
                         {-3.0, false}};
  if (rule.kind == SettingKind::kLowLimit) out.push_back({data.at(rule.partner).to_double() + 1.0, true});
  if (rule.kind == SettingKind::kHighLimit) out.push_back({data.at(rule.partner).to_double() - 1.0, true});
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

class SettingsSweep : public ::testing::TestWithParam<Plant> {
 protected:
  void SetUp() override {
    corvex::set_message_sink([this](const std::string& line) { lines.push_back(line); });
  }
  void TearDown() override { corvex::set_message_sink({}); }

  // Same tags, values and kinds, bit for bit; every value finite.
  static void expect_twins(const PlantSimulation& subject, const PlantSimulation& twin) {
    for (const auto& [tag, value] : subject.get_data()) {
      ASSERT_TRUE(std::isfinite(value.to_double())) << tag << " = " << corvex::to_text(value);
      ASSERT_TRUE(value.same_as(twin.get_data().at(tag)))
          << tag << ": " << corvex::to_text(value) << ", twin " << corvex::to_text(twin.get_data().at(tag));
    }
    ASSERT_EQ(subject.get_data().at("RunCount"), corvex::Value(subject.get_task_count()));
  }

  std::vector<std::string> lines;
};

TEST_P(SettingsSweep, UnusableWritesLeaveThePlantAsIfTheyHadNeverComeAndAreReportedOnce) {
  const auto subject = GetParam().make();
  const auto twin = GetParam().make();
  auto& data = subject->get_data();
  for (const SettingRule& rule : subject->settings().rules()) {
    for (const auto& [value, must_be_refused] : writes_for(rule, data)) {
      const std::string text = corvex::to_text(value);
      SCOPED_TRACE(rule.tag + " = " + text);
      lines.clear();
      bool refused = false;
      for (int period = 1; period <= 50; ++period) {
        const bool writing = period <= 3;  // a client insisting
        if (writing) data.set(rule.tag, value);
        testing::run_periods(*subject, 1);
        if (period == 1) refused = !lines.empty();
        if (writing && !refused) twin->get_data().set(rule.tag, value);
        testing::run_periods(*twin, 1);
        ASSERT_NO_FATAL_FAILURE(expect_twins(*subject, *twin)) << "period " << period;
        if (rule.kind == SettingKind::kLowLimit) {
          ASSERT_LE(data.at(rule.tag).to_double(), data.at(rule.partner).to_double());
        }
      }
      EXPECT_TRUE(refused || !must_be_refused);
      ASSERT_EQ(lines.size(), refused ? 1u : 0u) << joined(lines);
      if (refused) {
        EXPECT_EQ(lines[0].rfind(rule.tag + " = " + text + " refused in period ", 0), 0u) << lines[0];
      }
    }
  }
}

TEST_P(SettingsSweep, TagsThatAreNotSettingsAreOverwrittenBeforeTheyAreRead) {
  const auto subject = GetParam().make();
  const auto twin = GetParam().make();
  const auto& rules = subject->settings().rules();
  for (const std::string& tag : subject->get_data().keys()) {
    if (std::any_of(rules.begin(), rules.end(), [&](const SettingRule& r) { return r.tag == tag; })) continue;
    SCOPED_TRACE(tag);
    // NaN, which the plant must not keep; then a number a plant reading
    // the tag would act on, where corvex would quietly hold a NaN.
    for (const double value :
         {std::numeric_limits<double>::quiet_NaN(), subject->get_data().at(tag).to_double() + 1.0}) {
      subject->get_data().set(tag, value);
      testing::run_periods(*subject, 1);
      testing::run_periods(*twin, 1);
      ASSERT_NO_FATAL_FAILURE(expect_twins(*subject, *twin)) << corvex::to_text(value);
    }
  }
  EXPECT_TRUE(lines.empty()) << joined(lines);
}

INSTANTIATE_TEST_SUITE_P(AllPlants, SettingsSweep, ::testing::ValuesIn(kPlants),
                         [](const ::testing::TestParamInfo<Plant>& plant) {
                           return std::string(plant.param.name);
                         });

}  // namespace
}  // namespace varnok
