// Registering many tags at once: ids in the order asked, tags found rather
// than registered twice, also while another client registers the same names.

#include <algorithm>
#include <future>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace tsdbpy::tag;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> names(const std::string& prefix, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

class TagBatch : public DbTest {
 protected:
  int source() {
    tsdbpy::source::SourceInfo s{.source_name = "varnok", .endpoint = "e"};
    EXPECT_TRUE(tsdbpy::source::insert_new_source(conn_, s).ok);
    return s.source_id.value_or(-1);
  }
  long tags() const { return std::stol(query("SELECT count(*) FROM tags")); }
};

TEST_F(TagBatch, NewNamesAreRegisteredInTheOrderGivenAndKnownOnesFoundWithTheirOwnSource) {
  const int src = source();
  TagInfo old{.tag_name = "2:G.B", .source_tagname = "elsewhere"};
  ASSERT_TRUE(insert_new_tag(conn_, old).ok);

  const auto ids = find_or_register_tags(conn_, {"2:G.C", "2:G.B", "2:G.A", "2:G.C"}, src);
  ASSERT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids[1], old.tag_id);
  EXPECT_EQ(ids[3], ids[0]) << "a name given twice";
  EXPECT_GT(ids[0], *old.tag_id);
  EXPECT_EQ(ids[2], ids[0] + 1) << "registered in the order given";
  EXPECT_EQ(tags(), 3);
  EXPECT_EQ(get_tag(conn_, "2:G.A")->source_id, src);
  EXPECT_EQ(get_tag(conn_, "2:G.A")->source_tagname, "2:G.A");
  const auto kept = get_tag(conn_, "2:G.B");
  EXPECT_FALSE(kept->source_id.has_value());
  EXPECT_EQ(kept->source_tagname, "elsewhere");

  // Asked again with one more: the known ones draw no new ids.
  const auto again = find_or_register_tags(conn_, {"2:G.A", "2:G.D", "2:G.C"}, std::nullopt);
  EXPECT_THAT(again, ElementsAre(ids[2], ids[2] + 1, ids[0]));
  EXPECT_FALSE(get_tag(conn_, "2:G.D")->source_id.has_value());
}

TEST_F(TagBatch, NamesFromTheServerAreStoredVerbatimAndManyGoInOneCall) {
  std::vector<std::string> batch = {"it's \"quoted\"",
                                    "x'; DROP TABLE tags; --",
                                    R"(back\slash \x41 {a,b})",
                                    "NULL",
                                    "温度/Ünïcødé/🌡",
                                    "  spaced  ",
                                    "tab\tnew\nline",
                                    "",
                                    "{}"};
  const auto many = names("2:Plant.T", 5000);
  batch.insert(batch.end(), many.begin(), many.end());
  const auto ids = find_or_register_tags(conn_, batch, std::nullopt);
  ASSERT_EQ(ids.size(), batch.size());
  EXPECT_EQ(tags(), static_cast<long>(batch.size()));
  for (std::size_t i = 0; i < 9; ++i) {
    const auto back = get_tag(conn_, batch[i]);
    ASSERT_TRUE(back.has_value()) << batch[i];
    EXPECT_EQ(back->tag_id, ids[i]) << batch[i];
    EXPECT_EQ(back->source_tagname, batch[i]);
  }
  EXPECT_EQ(get_tag(conn_, "2:Plant.T4999")->tag_id, ids.back());
  for (std::size_t i = 10; i < ids.size(); ++i)
    ASSERT_EQ(ids[i], ids[i - 1] + 1) << "in the order given: " << batch[i];
}

TEST_F(TagBatch, RefusedInputStoresNothingAndNoNamesSendNothing) {
  const struct {
    const char* name;
    std::vector<std::string> names;
    std::optional<int> source_id;
    const char* error;
  } cases[] = {
      {"a NUL character", {"ok", std::string("a\0b", 3)}, std::nullopt, "tag_name contains a NUL"},
      {"a source that does not exist", {"ok", "fine"}, 4242, "foreign key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      find_or_register_tags(conn_, c.names, c.source_id);
      ADD_FAILURE() << "no error";
    } catch (const tsdbpy::Error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.error));
    }
    EXPECT_EQ(tags(), 0);
  }
  conn_.close();
  EXPECT_TRUE(find_or_register_tags(conn_, {}, std::nullopt).empty());
  EXPECT_THROW(find_or_register_tags(conn_, {"x"}, std::nullopt), tsdbpy::Error);
}

TEST_F(TagBatch, TwoClientsRegisteringTheSameNamesAtOnceGetTheSameIds) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const auto ours = names("2:R" + std::to_string(round) + ".T", 2000);
    auto theirs = ours;
    std::shuffle(theirs.begin(), theirs.end(), std::mt19937(round));
    auto other = tsdbpy::conn::get_conn(settings());
    auto first =
        std::async(std::launch::async, [&] { return find_or_register_tags(conn_, ours, std::nullopt); });
    auto second =
        std::async(std::launch::async, [&] { return find_or_register_tags(other, theirs, std::nullopt); });
    const auto a = first.get();
    const auto b = second.get();
    std::map<std::string, int> by_name;
    for (std::size_t i = 0; i < ours.size(); ++i) by_name[ours[i]] = a[i];
    for (std::size_t i = 0; i < theirs.size(); ++i) ASSERT_EQ(b[i], by_name[theirs[i]]) << theirs[i];
    EXPECT_EQ(std::count(a.begin(), a.end(), 0), 0);
  }
  EXPECT_EQ(tags(), 5 * 2000);
}

}  // namespace
}  // namespace tsdbpy_testing
