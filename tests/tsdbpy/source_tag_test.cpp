// Sources and tags: what is stored comes back exactly, and what the viewer's
// registration relies on (filters, first match, refused duplicates).

#include <string>
#include <vector>

#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace tsdbpy::source;
using namespace tsdbpy::tag;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Names as an OPC UA server may hand them over.
const std::vector<std::string> kHostileNames = {
    "2:G1.PV",
    "it's \"quoted\"",
    "x'; DROP TABLE tags; --",
    R"(back\slash \\ \x41 \' \")",
    "$1 %s %d {}",
    "温度/Ünïcødé/🌡",
    "  spaced  ",
    "tab\tnew\nline",
    std::string(5000, 'L'),
};

std::vector<int> ids_of(const std::vector<SourceInfo>& sources) {
  std::vector<int> ids;
  for (const auto& s : sources) ids.push_back(s.source_id.value_or(-1));
  return ids;
}

class Sources : public DbTest {
 protected:
  int add(const std::string& name, const std::string& endpoint, SourceStatus status,
          std::optional<SourceProtocol> protocol) {
    SourceInfo s{.source_name = name, .endpoint = endpoint, .status = status, .protocol = protocol};
    const auto result = insert_new_source(conn_, s);
    EXPECT_TRUE(result.ok) << result.error;
    return s.source_id.value_or(-1);
  }
};

TEST_F(Sources, InsertFillsTheIdAndEveryFieldReadsBack) {
  SourceInfo s{.source_name = "varnok",
               .endpoint = "opc.tcp://localhost:22200",
               .status = SourceStatus::ACTIVE,
               .protocol = SourceProtocol::OPC_UA};
  s.source_type = "Simulation";
  s.interval_msec = 1000;
  s.description = {
      {"created_by", "varnok"}, {"endpoint", "opc.tcp://localhost:22200"}, {"protocol", "opcua"}};
  for (std::size_t i = 0; i < kHostileNames.size(); ++i)
    s.description["k" + kHostileNames[i]] = kHostileNames[i];
  const auto result = insert_new_source(conn_, s);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_TRUE(s.source_id.has_value());

  const auto stored = get_sources(conn_);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].source_id, s.source_id);
  EXPECT_EQ(stored[0].source_name, "varnok");
  EXPECT_EQ(stored[0].endpoint, "opc.tcp://localhost:22200");
  EXPECT_EQ(stored[0].status, SourceStatus::ACTIVE);
  EXPECT_EQ(stored[0].protocol, SourceProtocol::OPC_UA);
  EXPECT_EQ(stored[0].source_type, "Simulation");
  EXPECT_EQ(stored[0].interval_msec, 1000);
  EXPECT_EQ(stored[0].description, s.description);

  SourceInfo bare{.source_name = "bare", .endpoint = "e"};
  ASSERT_TRUE(insert_new_source(conn_, bare).ok);
  const auto both = get_sources(conn_);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_FALSE(both[1].protocol.has_value());
  EXPECT_FALSE(both[1].interval_msec.has_value());
  EXPECT_TRUE(both[1].description.empty());
}

TEST_F(Sources, EveryStatusAndProtocolCanBeStoredAndReadBack) {
  for (const auto status : {SourceStatus::ACTIVE, SourceStatus::INACTIVE}) {
    for (const auto protocol :
         {SourceProtocol::OPC_UA, SourceProtocol::OPC_DA, SourceProtocol::MODBUS_TCP, SourceProtocol::MQTT}) {
      const int id = add("n", "e", status, protocol);
      const auto back = get_sources(conn_, {.status = {status}, .protocol = {protocol}});
      ASSERT_FALSE(back.empty()) << value(status) << " " << value(protocol);
      EXPECT_EQ(back.back().source_id, id);
      EXPECT_EQ(source_status_from(value(status)), status);
      EXPECT_EQ(source_protocol_from(value(protocol)), protocol);
    }
  }
}

TEST_F(Sources, FilterConstrainsEachNonEmptyListAndKeepsInsertionOrder) {
  const int a = add("varnok", "opc.tcp://h:1", SourceStatus::ACTIVE, SourceProtocol::OPC_UA);
  const int b = add("varnok", "opc.tcp://h:2", SourceStatus::INACTIVE, SourceProtocol::OPC_UA);
  const int c = add("other", "opc.tcp://h:1", SourceStatus::ACTIVE, SourceProtocol::MQTT);
  const int d = add("varnok", "opc.tcp://h:1", SourceStatus::ACTIVE, SourceProtocol::OPC_UA);
  const int e = add("varnok", "opc.tcp://h:3", SourceStatus::ACTIVE, std::nullopt);

  EXPECT_THAT(ids_of(get_sources(conn_)), ElementsAre(a, b, c, d, e));
  EXPECT_THAT(ids_of(get_sources(conn_, {.names = {"varnok"}})), ElementsAre(a, b, d, e));
  EXPECT_THAT(ids_of(get_sources(conn_, {.status = {SourceStatus::ACTIVE}})), ElementsAre(a, c, d, e));
  EXPECT_THAT(ids_of(get_sources(conn_, {.protocol = {SourceProtocol::OPC_UA}})), ElementsAre(a, b, d));
  EXPECT_THAT(ids_of(get_sources(conn_, {.names = {"varnok", "other"}, .protocol = {SourceProtocol::MQTT}})),
              ElementsAre(c));
  EXPECT_TRUE(get_sources(conn_, {.names = {"nobody"}}).empty());

  // The viewer's lookup: the first source with its endpoint wins.
  const auto found = get_sources(
      conn_, {.names = {"varnok"}, .status = {SourceStatus::ACTIVE}, .protocol = {SourceProtocol::OPC_UA}});
  EXPECT_THAT(ids_of(found), ElementsAre(a, d));
}

TEST_F(Sources, TextWithANulCharacterIsRefusedAndNothingStored) {
  SourceInfo s{.source_name = std::string("a\0b", 3), .endpoint = "e"};
  const auto result = insert_new_source(conn_, s);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("source_name"));
  EXPECT_FALSE(s.source_id.has_value());
  EXPECT_TRUE(get_sources(conn_).empty());
}

TEST_F(DbTest, TagInsertFillsTheIdAndGetTagFindsItByItsExactName) {
  SourceInfo s{.source_name = "varnok", .endpoint = "e"};
  ASSERT_TRUE(insert_new_source(conn_, s).ok);
  TagInfo tag{.tag_name = "2:G1.PV", .source_id = s.source_id, .source_tagname = "2:G1.PV"};
  const auto result = insert_new_tag(conn_, tag);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_TRUE(tag.tag_id.has_value());

  const auto found = get_tag(conn_, "2:G1.PV");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->tag_id, tag.tag_id);
  EXPECT_EQ(found->source_id, s.source_id);
  EXPECT_EQ(found->source_tagname, "2:G1.PV");
  EXPECT_FALSE(get_tag(conn_, "2:g1.pv").has_value());
  EXPECT_FALSE(get_tag(conn_, "2:G1.PV ").has_value());
  EXPECT_FALSE(get_tag(conn_, "missing").has_value());
}

TEST_F(DbTest, DuplicateTagNameIsRefusedAndTheFirstTagKept) {
  TagInfo first{.tag_name = "2:G1.PV", .source_tagname = "first"};
  ASSERT_TRUE(insert_new_tag(conn_, first).ok);
  TagInfo second{.tag_name = "2:G1.PV", .source_tagname = "second"};
  const auto result = insert_new_tag(conn_, second);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("exists"));
  EXPECT_FALSE(second.tag_id.has_value());
  EXPECT_EQ(get_tag(conn_, "2:G1.PV")->source_tagname, "first");
  EXPECT_TRUE(conn_) << "a refused duplicate leaves the connection usable";
}

TEST_F(DbTest, TagNamesFromTheServerAreStoredVerbatim) {
  for (const auto& name : kHostileNames) {
    TagInfo tag{.tag_name = name, .source_tagname = name};
    const auto result = insert_new_tag(conn_, tag);
    ASSERT_TRUE(result.ok) << name << ": " << result.error;
    const auto back = get_tag(conn_, name);
    ASSERT_TRUE(back.has_value()) << name;
    EXPECT_EQ(back->tag_name, name);
    EXPECT_EQ(back->source_tagname, name);
    EXPECT_EQ(back->tag_id, tag.tag_id);
  }
  EXPECT_EQ(query("SELECT count(*) FROM tags"), std::to_string(kHostileNames.size()));
}

TEST_F(DbTest, TagSourceMayBeNoneButMustExistWhenGiven) {
  TagInfo orphan{.tag_name = "orphan"};
  ASSERT_TRUE(insert_new_tag(conn_, orphan).ok);
  EXPECT_FALSE(get_tag(conn_, "orphan")->source_id.has_value());

  TagInfo dangling{.tag_name = "dangling", .source_id = 4242};
  const auto result = insert_new_tag(conn_, dangling);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("foreign key"));
  EXPECT_FALSE(get_tag(conn_, "dangling").has_value());
}

TEST_F(DbTest, TagNameWithANulCharacterIsRefused) {
  const std::string name("a\0b", 3);
  TagInfo tag{.tag_name = name};
  EXPECT_FALSE(insert_new_tag(conn_, tag).ok);
  EXPECT_THROW(get_tag(conn_, name), tsdbpy::Error);
  EXPECT_FALSE(get_tag(conn_, "a").has_value()) << "the name was cut at the NUL";
}

}  // namespace
}  // namespace tsdbpy_testing
