#include "corvex/lpv_plant_sim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>

namespace corvex {
namespace {

PlantDescription lag(double gain, double tau, const char* input = "MV1", const char* cv = "CV1") {
  PlantDescription plant;
  plant[cv].set(input, {"tf_s", {gain}, {tau, 1}, 2.0, false});
  return plant;
}

const ValueMap kInit{{"CV1", 31}, {"MV1", 29}, {"DV1", 0}, {"CV2", 0}};

// Ids 1, 2, 3 at operating points 10, 20, 40, added out of order.
LPVPlantSim three_point_plant() {
  LPVPlantSim lpv(kInit);
  lpv.addPlant(3, 40, lag(4, 3), 1.0);
  lpv.addPlant(1, 10, lag(1, 5), 1.0);
  lpv.addPlant(2, 20, lag(2, 10), 1.0);
  return lpv;
}

TEST(LPVPlantSim, WeightsInterpolateBetweenOperatingPointsAndClampBeyond) {
  LPVPlantSim lpv = three_point_plant();
  using W = std::map<int, double>;
  EXPECT_EQ(lpv.get_current_plant_weight_dict(), (W{{1, 1}, {2, 0}, {3, 0}}));
  const std::pair<double, W> cases[] = {
      {10, {{1, 1}, {2, 0}, {3, 0}}},
      {15, {{1, 0.5}, {2, 0.5}, {3, 0}}},
      {20, {{1, 0}, {2, 1}, {3, 0}}},
      {35, {{1, 0}, {2, 0.25}, {3, 0.75}}},
      {5, {{1, 1}, {2, 0}, {3, 0}}},
      {50, {{1, 0}, {2, 0}, {3, 1}}},
      {std::nan(""), {{1, 0}, {2, 0}, {3, 1}}},
  };
  for (const auto& [working_value, weights] : cases) {
    lpv(working_value, {{"MV1", 29}});
    EXPECT_EQ(lpv.get_current_plant_weight_dict(), weights) << working_value;
  }
}

TEST(LPVPlantSim, OutputBlendsLocalModelsThatAllRunEveryCall) {
  LPVPlantSim lpv = three_point_plant();
  MIMOSim low(lag(1, 5), kInit), mid(lag(2, 10), kInit), high(lag(4, 3), kInit);
  for (int k = 1; k <= 120; ++k) {
    const double working_value = k < 30 ? 10 : k < 60 ? 30 : k < 90 ? 12.5 : 45;
    const ValueMap u{{"MV1", k < 50 ? 30.0 : 27.0}};
    const double noise = k % 7 == 0 ? 0.3 : 0.0;
    const double got = lpv(working_value, u, {{"CV1", noise}}).at("CV1").to_double();
    double expected = 31 + noise;
    const auto weights = lpv.get_current_plant_weight_dict();
    for (auto [id, sim] : {std::pair{1, &low}, {2, &mid}, {3, &high}})
      expected += weights.at(id) * (sim->run(u).at("CV1").to_double() - 31);
    EXPECT_NEAR(got, expected, 1e-12) << k;
  }
}

TEST(LPVPlantSim, SwitchingBetweenSettledModelsOfEqualGainIsBumpless) {
  LPVPlantSim lpv(kInit);
  lpv.addPlant(1, 10, lag(2, 5), 1.0);
  lpv.addPlant(2, 20, lag(2, 30), 1.0);
  double settled = 0;
  for (int k = 0; k < 1500; ++k) settled = lpv(10, {{"MV1", 30}}).at("CV1").to_double();
  EXPECT_NEAR(settled, 33, 1e-9);
  EXPECT_NEAR(lpv(20, {{"MV1", 30}}).at("CV1").to_double(), settled, 1e-9);
}

TEST(LPVPlantSim, RefusesDuplicatesMismatchedOutputsAndMissingInputs) {
  LPVPlantSim lpv(kInit);
  EXPECT_THROW(lpv(10, {{"MV1", 29}}), std::logic_error);
  lpv.addPlant(1, 10, lag(1, 5), 1.0);
  EXPECT_THROW(lpv.addPlant(1, 30, lag(1, 5), 1.0), std::invalid_argument);
  EXPECT_THROW(lpv.addPlant(2, 10, lag(1, 5), 1.0), std::invalid_argument);
  EXPECT_THROW(lpv.addPlant(2, 30, lag(1, 5, "MV1", "CV2"), 1.0), std::invalid_argument);
  EXPECT_THROW(lpv.addPlant(2, std::nan(""), lag(1, 5), 1.0), std::invalid_argument);

  // A second model reads DV1 too: a call without it must not step the first.
  lpv.addPlant(2, 30, lag(3, 8, "DV1"), 1.0);
  LPVPlantSim twin(kInit);
  twin.addPlant(1, 10, lag(1, 5), 1.0);
  twin.addPlant(2, 30, lag(3, 8, "DV1"), 1.0);
  const ValueMap u{{"MV1", 30}, {"DV1", 1}};
  lpv(20, u);
  twin(20, u);
  EXPECT_THROW(lpv(25, {{"MV1", 35}}), MissingKey);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(lpv(20, u).at("CV1"), twin(20, u).at("CV1"));
}

// run_at on a live map of another layout, with noise, against operator()
// merged into a map: the same bits, and the same weights.
TEST(LPVPlantSim, RunAtGivesTheBitsOfACallMerged) {
  const auto build = [] {
    LPVPlantSim lpv(kInit);
    lpv.addPlant(3, 40, lag(4, 3), 1.0);
    lpv.addPlant(1, 10, lag(1, 5, "DV1"), 1.0);
    lpv.addPlant(2, 20, lag(2, 10), 1.0);
    return lpv;
  };
  LPVPlantSim by_name = build(), by_place = build();
  ValueMap merged = kInit;
  ValueMap live{{"SPARE", 7}, {"DV1", 0}, {"CV2", 0}, {"MV1", 29}, {"CV1", 31}};
  const LPVPlantSim::Places places = by_place.places_in(live);
  for (int k = 1; k <= 120; ++k) {
    const double working_value = k < 30 ? 5 : k < 60 ? 15 : k < 90 ? 33 : std::nan("");
    const ValueMap u{{"MV1", k < 50 ? 30.0 : 27.0}, {"DV1", k % 9 == 0 ? 1.0 : 0.0}};
    const double noise = k % 7 == 0 ? 0.3 : 0.0;
    merged.merge(by_name(working_value, u, {{"CV1", noise}}));
    for (const auto& [tag, value] : u) live.set(tag, value);
    by_place.run_at(working_value, live, places, std::span<const double>(&noise, 1));
    ASSERT_TRUE(live.at("CV1").same_as(merged.at("CV1"))) << k;
    ASSERT_EQ(by_place.get_current_plant_weight_dict(), by_name.get_current_plant_weight_dict()) << k;
    for (const auto& [id, weight] : by_place.get_current_plant_weight_dict())
      EXPECT_EQ(by_place.current_weight(id), weight) << k;
  }
  EXPECT_EQ(by_place.current_weight(4), std::nullopt);
  EXPECT_EQ(live.at("SPARE"), Value(7));

  const double two[] = {0.0, 0.0};
  EXPECT_THROW(by_place.run_at(10, live, places, two), std::invalid_argument);
  LPVPlantSim fewer(kInit);
  fewer.addPlant(1, 10, lag(1, 5), 1.0);
  EXPECT_THROW(fewer.run_at(10, live, places), std::invalid_argument);
  EXPECT_THROW(LPVPlantSim(kInit).run_at(10, live, places), std::logic_error);
}

}  // namespace
}  // namespace corvex
