#include "varnok/frame/tag_names.h"

#include <gtest/gtest.h>

namespace varnok::frame {
namespace {

TEST(TagNames, CopyRenamesCvThenMvAndKeepsOtherTags) {
  EXPECT_EQ(copy_tag("CV1", "OPEN_"), "OPEN_CV1");
  EXPECT_EQ(copy_tag("MV2", "PID_"), "PID_MV2");
  EXPECT_EQ(copy_tag("DV1", "OPEN_"), "DV1");
  EXPECT_EQ(copy_tag("CV1std_10min", "OPEN_"), "OPEN_CV1std_10min");
  EXPECT_EQ(copy_tag("CVMV", "X_"), "X_CVX_MV");
}

TEST(TagNames, DerivedPlantKeepsOrderAndPathsAndSharesDvs) {
  corvex::PlantDescription plant;
  plant["CV1"].set("MV1", {.num_s = {0, 3.8}, .den_s = {30, 1}, .iodelay_s = 17});
  plant["CV1"].set("DV1", {.num_s = {0, 3.3}, .den_s = {20, 1}, .iodelay_s = 4});
  plant["CV2"].set("MV1", {.num_s = {1}, .den_s = {5, 1}, .iodelay_s = 2, .integral = true});

  const auto copy = derive_copy(plant, "PID_");
  ASSERT_EQ(copy.keys(), (std::vector<std::string>{"PID_CV1", "PID_CV2"}));
  EXPECT_EQ(copy.at("PID_CV1").keys(), (std::vector<std::string>{"PID_MV1", "DV1"}));
  EXPECT_EQ(copy.at("PID_CV1").at("PID_MV1").num_s, (std::vector<double>{0, 3.8}));
  EXPECT_TRUE(copy.at("PID_CV2").at("PID_MV1").integral);
}

TEST(TagNames, CopyIniTakesMvsThenCvsOnly) {
  const corvex::ValueMap process{{"CV1", 31}, {"MV1", 29}, {"DV1", 33}, {"SET_CV_STD", 0.0}, {"MV2", 40.0}};
  const auto open = derive_copy_ini(process, "OPEN_");
  EXPECT_EQ(open.keys(), (std::vector<std::string>{"OPEN_MV1", "OPEN_MV2", "OPEN_CV1"}));
  EXPECT_TRUE(open.at("OPEN_MV1").is_integer());
  EXPECT_EQ(open.at("OPEN_CV1"), corvex::Value(31));
}

TEST(TagNames, MergeAllOverwritesInPlaceAndAppendsNew) {
  const auto merged = merge_all({{{"A", 1}, {"B", 2}}, {{"C", 3}, {"A", 4.0}}});
  EXPECT_EQ(merged.keys(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(merged.at("A"), corvex::Value(4.0));
}

}  // namespace
}  // namespace varnok::frame
