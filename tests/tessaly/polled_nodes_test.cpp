// The session's node list: append-only in the order found, one entry per
// node id however often its group is browsed, and which groups went dead or
// came back with a poll.

#include "polled_nodes.h"

#include <gtest/gtest.h>

#include "group_folders.h"

namespace varnok::tessaly {
namespace {

using hublet::NodeRecord;

NodeRecord variable(const std::string& name, bool readable = true) {
  return {hublet::HUBLET_NODETYPE_VARIABLE, readable, hublet::HUBLET_DATATYPE_DOUBLE, 2, name, name,
          hublet::HUBLET_IDTYPE_STRING};
}

NodeRecord object(int ns, const std::string& name) {
  return {hublet::HUBLET_NODETYPE_OBJECT, false, hublet::HUBLET_DATATYPE_UNKNOWN, ns, name, name,
          hublet::HUBLET_IDTYPE_STRING};
}

ShownValue live(bool is_live, const std::string& status = "BadNoCommunication (0x80310000)") {
  return {"", "1", is_live, is_live ? "" : status};
}

TEST(PolledNodes, NodesAreAppendedInTheOrderFoundAndNeverTwice) {
  PolledNodes nodes;
  EXPECT_EQ(
      nodes.add("G1", {variable("G1.A"), object(2, "G1.Sub"), variable("G1.B", false), variable("G1.C")}),
      2u);
  EXPECT_EQ(nodes.add("G2", {variable("G2.A")}), 1u);
  // G1 browsed again after its plant came back with one more tag.
  EXPECT_EQ(nodes.add("G1", {variable("G1.A"), variable("G1.C"), variable("G1.D")}), 1u);
  EXPECT_EQ(nodes.add("Empty", {object(2, "Empty.Sub")}), 0u);

  EXPECT_EQ(nodes.node_ids(), (std::vector<std::string>{"2:G1.A", "2:G1.C", "2:G2.A", "2:G1.D"}));
  EXPECT_EQ(nodes.descriptors()[3],
            (hublet::TagDescriptor{hublet::HUBLET_DATATYPE_DOUBLE, 2, "G1.D", hublet::HUBLET_IDTYPE_STRING}));
  EXPECT_EQ(nodes.group_count(), 2u);
  EXPECT_TRUE(nodes.knows("G2"));
  EXPECT_FALSE(nodes.knows("Empty")) << "a folder without readable variables is no group";

  // The latest nodes could not be subscribed: forgotten, and found again later.
  EXPECT_EQ(nodes.add("G3", {variable("G3.A")}), 1u);
  nodes.truncate(3);
  EXPECT_EQ(nodes.node_ids(), (std::vector<std::string>{"2:G1.A", "2:G1.C", "2:G2.A"}));
  EXPECT_FALSE(nodes.knows("G3"));
  EXPECT_TRUE(nodes.knows("G1")) << "a group keeps its earlier nodes";
  EXPECT_EQ(nodes.add("G1", {variable("G1.D")}), 1u);
  EXPECT_EQ(nodes.add("G3", {variable("G3.A")}), 1u);
}

// Each poll in turn; `browsed` is a group browsed again (nothing new)
// before it.
TEST(PolledNodes, AGroupIsSaidDeadWhenNoneOfItsValuesIsLiveAndLiveWhenOneIsAgain) {
  PolledNodes nodes;
  nodes.add("G1", {variable("G1.A"), variable("G1.B")});
  nodes.add("G2", {variable("G2.A"), variable("G2.B")});
  using Changes = std::vector<PolledNodes::Change>;
  const struct {
    const char* name;
    const char* browsed;
    std::vector<ShownValue> values;  // G1.A, G1.B, G2.A, G2.B
    Changes changes;
    bool browse_g1, browse_g2;  // may_have_new_nodes afterwards
  } polls[] = {
      {"all live", nullptr, {live(true), live(true), live(true), live(true)}, {}, false, false},
      {"one value of G2 bad", nullptr, {live(true), live(true), live(false), live(true)}, {}, false, true},
      {"G2's plant stopped",
       nullptr,
       {live(true), live(true), live(false, "BadNoCommunication (0x80310000)"), live(false, "other")},
       {{"G2", false, "BadNoCommunication (0x80310000)"}},
       false,
       true},
      {"still stopped: said once",
       nullptr,
       {live(true), live(true), live(false), live(false)},
       {},
       false,
       true},
      {"both gone, the server restarted",
       nullptr,
       {live(false, "BadNodeIdUnknown (0x80340000)"), live(false), live(false), live(false)},
       {{"G1", false, "BadNodeIdUnknown (0x80340000)"}},
       true,
       true},
      {"both back, in the order found",
       nullptr,
       {live(false), live(true), live(true), live(true)},
       {{"G1", true, ""}, {"G2", true, ""}},
       true,
       true},
      {"back with other tags, maybe: browsed once more",
       "G2",
       {live(true), live(true), live(true), live(true)},
       {},
       true,
       false},
      {"a read of fewer nodes tells nothing of the others",
       "G1",
       {live(false), live(false)},
       {{"G1", false, "BadNoCommunication (0x80310000)"}},
       true,
       false},
  };
  for (const auto& poll : polls) {
    SCOPED_TRACE(poll.name);
    if (poll.browsed != nullptr) {
      EXPECT_EQ(nodes.add(poll.browsed, {}), 0u);
    }
    EXPECT_EQ(nodes.update_liveness(poll.values), poll.changes);
    EXPECT_EQ(nodes.may_have_new_nodes("G1"), poll.browse_g1);
    EXPECT_EQ(nodes.may_have_new_nodes("G2"), poll.browse_g2);
  }
  EXPECT_TRUE(nodes.may_have_new_nodes("G3")) << "a group not known yet";
}

TEST(GroupFolders, OnlyObjectsInTheGroupsNamespaceMayBeGroups) {
  NodeRecord server = object(0, "2253");
  NodeRecord variable_there = variable("Loose");
  const std::vector<NodeRecord> objects{server, object(2, "P2"), variable_there, object(3, "Other"),
                                        object(2, "P1")};
  const auto folders = group_folders(objects, 2);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].node_name, "P2");
  EXPECT_EQ(folders[1].node_name, "P1");
}

}  // namespace
}  // namespace varnok::tessaly
