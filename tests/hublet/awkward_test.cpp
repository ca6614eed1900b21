// hublet against a node-opcua server built to be awkward (awkward_server.js):
// mixed node classes, an unreadable variable, several data types, node ids
// of every identifier type, integer extremes, values with bad statuses, a
// folder larger than a Browse page, a slow variable, relays that break
// connections mid-request, servers that refuse. One server serves all tests
// of this program.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "awkward_fixture.h"
#include "hublet/hublet.h"

namespace hublet {
namespace {

using namespace std::chrono_literals;
using Value = decltype(ValueRecord::value);

const testing::AwkwardServer& server() {
  return testing::awkward_server();
}

class AwkwardServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server(); }

  static Options options() {
    Options o;
    o.connect_timeout = 3s;
    o.request_timeout = 3s;
    return o;
  }
  // Subscribes ns 1 nodes by name with the given declared type.
  std::vector<int> subscribe(const std::vector<std::string>& names, int type = HUBLET_DATATYPE_UNKNOWN) {
    std::vector<TagDescriptor> descriptors;
    for (const auto& n : names) descriptors.push_back({type, 1, n});
    auto [status, items] = hub.subscribe_group(group, descriptors);
    EXPECT_EQ(status, HUBLET_STATUS_GOOD);
    return items;
  }
  Value read_one(int item) {
    const auto [status, records] = hub.read_group_values(group, {item});
    EXPECT_EQ(status, HUBLET_STATUS_GOOD);
    return records.size() == 1 ? records[0].value : Value{};
  }

  HubletLibrary hub{options()};
  int source = hub.create_source(0, server().endpoint(server().port), 1000, 1);
  int group = hub.create_group(source, "G1");
};

using Row = std::tuple<int, bool, int, int, std::string, std::string>;
Row row(const NodeRecord& r) {
  return {r.node_type, r.is_readable, r.data_type, r.namespace_index, r.node_name, r.display_name};
}

TEST_F(AwkwardServer, BrowseGivesOnlyTheChildrenInTheServersOrderWithTheirRecords) {
  ASSERT_NE(source, HUBLET_INVALID_HANDLE);
  const auto [status, records] = hub.browse_source(source, 1000, 1, "Mixed");
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  std::vector<Row> rows;
  for (const auto& r : records) rows.push_back(row(r));
  const std::vector<Row> expected = {
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_DOUBLE, 1, "Mixed.Flow", "Flow rate"},
      {HUBLET_NODETYPE_OBJECT, false, HUBLET_DATATYPE_UNKNOWN, 1, "Mixed.Pump", "Pump"},
      {HUBLET_NODETYPE_METHOD, false, HUBLET_DATATYPE_UNKNOWN, 1, "Mixed.Reset", "Reset"},
      {HUBLET_NODETYPE_VARIABLE, false, HUBLET_DATATYPE_DOUBLE, 1, "Mixed.Secret", "Secret"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_BOOLEAN, 1, "Mixed.Running", "Running"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_INT32, 1, "Mixed.Count", "Count"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_FLOAT, 1, "Mixed.Ratio", "Ratio"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_STRING, 1, "Mixed.Label", "Label"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_BYTE, 1, "Mixed.Small", "Small"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_DOUBLE, 1, "4242", "Numeric"},
      {HUBLET_NODETYPE_VARIABLE, true, HUBLET_DATATYPE_DOUBLE, 1, "Mixed.Slow", "Slow"},
  };
  EXPECT_EQ(rows, expected);

  // A numeric name is a numeric id: Objects (i=85) holds both folders.
  const auto [objects_status, objects] = hub.browse_source(source, 1000, 0, "85");
  ASSERT_EQ(objects_status, HUBLET_STATUS_GOOD);
  std::vector<std::string> names;
  for (const auto& r : objects) names.push_back(std::to_string(r.namespace_index) + ":" + r.node_name);
  EXPECT_NE(std::find(names.begin(), names.end(), "1:Mixed"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "1:Large"), names.end());

  EXPECT_EQ(hub.browse_source(source, 1000, 1, "4242"), (std::pair<int, std::vector<NodeRecord>>{0, {}}));
  EXPECT_EQ(hub.browse_source(source, 1000, 1, "Nowhere").first, HUBLET_STATUS_SERVER_REFUSED);
  EXPECT_EQ(last_server_status(), 0x80340000u) << "BadNodeIdUnknown";
}

TEST_F(AwkwardServer, BrowseFollowsContinuationPointsThroughAFolderLargerThanAPage) {
  const auto check = [](const std::vector<NodeRecord>& records) {
    ASSERT_EQ(records.size(), 2500u);
    for (std::size_t i = 0; i < records.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "L%04zu", i);
      ASSERT_EQ(records[i].display_name, name);
      ASSERT_EQ(records[i].node_name, std::string("Large.") + name);
      ASSERT_TRUE(records[i].is_readable);
      ASSERT_EQ(records[i].data_type, HUBLET_DATATYPE_DOUBLE);
    }
  };
  const auto [status, records] = hub.browse_source(source, 1000, 1, "Large");
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  check(records);

  // Small chunks: every response of this browse comes in many chunks.
  Options small = options();
  small.receive_buffer_size = 8192;
  small.max_nodes_per_read = 300;
  HubletLibrary chunked(small);
  const int s = chunked.create_source(0, server().endpoint(server().port), 1000, 1);
  const auto [chunked_status, chunked_records] = chunked.browse_source(s, 0, 1, "Large");
  ASSERT_EQ(chunked_status, HUBLET_STATUS_GOOD);
  check(chunked_records);

  // The server learns the largest message the library takes: it refuses
  // rather than sending more, and the source stays usable.
  Options bounded_options = options();
  bounded_options.max_message_size = 65536;
  HubletLibrary bounded(bounded_options);
  bounded.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const int b = bounded.create_source(0, server().endpoint(server().port), 1000, 1);
  EXPECT_EQ(bounded.browse_source(b, 0, 1, "Large").first, HUBLET_STATUS_SERVER_REFUSED);
  EXPECT_EQ(bounded.browse_source(b, 1000, 1, "Large").second.size(), 2500u);
}

TEST_F(AwkwardServer, ReadGivesEachTypeAsItsOwnKindAndBadNodesAsEmpty) {
  const auto items = subscribe({"Mixed.Flow", "Mixed.Running", "Mixed.Count", "Mixed.Ratio", "Mixed.Label",
                                "Mixed.Small", "4242", "Mixed.Secret", "Mixed.Missing"});
  const auto [status, records] = hub.read_group_values(group, items);
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(records.size(), items.size());
  const std::vector<Value> expected = {
      1.5, true, std::int64_t{42}, 0.25, std::string("hello"), std::int64_t{7}, 7.0, {}, {}};
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].value, expected[i]) << "item " << i;
  EXPECT_EQ(records[2].data_type, HUBLET_DATATYPE_INT32);
  EXPECT_EQ(records[7].status_code, 0x803A0000u) << "BadNotReadable";
  EXPECT_EQ(records[8].status_code, 0x80340000u) << "BadNodeIdUnknown";
}

TEST_F(AwkwardServer, EveryListReadGetsItsOwnValuesWhateverWasReadBefore) {
  // Two items a request, so that lists take several.
  Options paired = options();
  paired.max_nodes_per_read = 2;
  HubletLibrary pairs(paired);
  const int g = pairs.create_group(pairs.create_source(0, server().endpoint(server().port), 1000, 1), "G1");
  const auto [status, items] = pairs.subscribe_group(g, {{0, 1, "Mixed.Flow"},
                                                         {0, 1, "Mixed.Count"},
                                                         {0, 1, "Mixed.Label"},
                                                         {0, 1, "Mixed.Missing"},
                                                         {0, 1, "Mixed.Running"}});
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  const std::vector<Value> values = {1.5, std::int64_t{42}, std::string("hello"), {}, true};
  // Into one vector, longer than any answer at first: each read fills it
  // with its own list, in its order, after reads of other lists.
  std::vector<ValueRecord> records(9);
  for (const std::vector<std::size_t>& list : std::vector<std::vector<std::size_t>>{
           {0, 1, 2, 3, 4}, {2, 0}, {3}, {0, 1, 2, 3, 4}, {4, 4, 1}, {0, 1, 2, 3, 4}}) {
    std::vector<int> handles;
    for (std::size_t i : list) handles.push_back(items[i]);
    ASSERT_EQ(pairs.read_group_values(g, handles, records), HUBLET_STATUS_GOOD);
    ASSERT_EQ(records.size(), list.size());
    for (std::size_t k = 0; k < list.size(); ++k) {
      EXPECT_EQ(records[k].value, values[list[k]]) << "item " << k;
      EXPECT_EQ(records[k].status_code, list[k] == 3 ? 0x80340000u : 0u) << "item " << k;  // BadNodeIdUnknown
    }
  }
  EXPECT_EQ(pairs.read_group_values(g, {items[0], 999999}, records), HUBLET_STATUS_BAD_HANDLE);
  EXPECT_TRUE(records.empty());
}

TEST_F(AwkwardServer, WritesConvertToTheNodesTypeAndRefuseWhatDoesNotFit) {
  // Two declared, the rest left for the library to ask the server.
  const int count = subscribe({"Scratch.Count"}, HUBLET_DATATYPE_INT32)[0];
  const int small = subscribe({"Scratch.Small"}, HUBLET_DATATYPE_BYTE)[0];
  const auto typed = subscribe({"Scratch.Flag", "Scratch.Ratio", "Scratch.Text", "Scratch.Level"});
  const int flag = typed[0], ratio = typed[1], text = typed[2], level = typed[3];
  const int kFit = HUBLET_STATUS_GOOD;
  const int kNoFit = HUBLET_STATUS_VALUE_DOES_NOT_FIT;
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);

  struct Case {
    int item;
    double value;
    int status;
    Value after;
  };
  const Case cases[] = {
      {count, 2.5, kNoFit, std::int64_t{42}},
      {count, NAN, kNoFit, std::int64_t{42}},
      {count, 3e9, kNoFit, std::int64_t{42}},
      {count, -7.0, kFit, std::int64_t{-7}},
      {small, 300.0, kNoFit, std::int64_t{7}},
      {small, -1.0, kNoFit, std::int64_t{7}},
      {small, 255.0, kFit, std::int64_t{255}},
      {flag, 2.0, kNoFit, true},
      {flag, 0.5, kNoFit, true},
      {flag, 0.0, kFit, false},
      {ratio, 1e39, kNoFit, 0.25},
      {ratio, 0.375, kFit, 0.375},
      {text, 2.5, kFit, std::string("2.5")},
      {level, 1e-300, kFit, 1e-300},
      {level, INFINITY, kFit, INFINITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "item " << c.item << " value " << c.value);
    EXPECT_EQ(hub.write_group_values(group, {c.item}, {c.value}), c.status);
    EXPECT_EQ(read_one(c.item), c.after);
  }

  // In a batch, what fits is written and the rest is not.
  EXPECT_EQ(hub.write_group_values(group, {count, level}, {0.5, 4.25}), kNoFit);
  EXPECT_EQ(read_one(count), Value{std::int64_t{-7}});
  EXPECT_EQ(read_one(level), Value{4.25});

  // Write-only: the type comes from the DataType attribute.
  EXPECT_EQ(hub.write_group_values(group, subscribe({"Mixed.Secret"}), {9.75}), kFit);
  // Not a variable: the server says so when asked for its data type.
  EXPECT_EQ(hub.write_group_values(group, subscribe({"Mixed.Pump"}), {1.0}), HUBLET_STATUS_SERVER_REFUSED);
  EXPECT_EQ(last_server_status(), 0x80350000u) << "BadAttributeIdInvalid";
}

TEST_F(AwkwardServer, ALateAnswerToATimedOutReadIsNeverTakenForAnotherRead) {
  Options o = options();
  o.request_timeout = 400ms;
  HubletLibrary impatient(o);
  const int s = impatient.create_source(0, server().endpoint(server().port), 1000, 1);
  const int g = impatient.create_group(s, "G1");
  const auto [status, items] = impatient.subscribe_group(g, {{0, 1, "Mixed.Slow"}, {0, 1, "Mixed.Flow"}});
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);

  ::testing::internal::CaptureStderr();
  impatient.set_log_level(HUBLET_LOG_LEVEL_INFO);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(impatient.read_group_values(g, {items[0]}).first, HUBLET_STATUS_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  // The slow answer (3.0) turns up while these reads wait for theirs.
  int reads = 0;
  while (std::chrono::steady_clock::now() - start < 2500ms) {
    const auto [read_status, records] = impatient.read_group_values(g, {items[1]});
    ASSERT_EQ(read_status, HUBLET_STATUS_GOOD);
    ASSERT_EQ(records.at(0).value, Value{1.5});
    ++reads;
  }
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_GT(reads, 10);
  EXPECT_NE(log.find("skipping a late response"), std::string::npos) << log;
}

TEST_F(AwkwardServer, ConnectionsBrokenMidRequestFailInsteadOfHanging) {
  for (int port : {server().drop_port, server().cut_port}) {
    SCOPED_TRACE(port == server().drop_port ? "request dropped" : "response cut");
    HubletLibrary broken(options());
    broken.set_log_level(HUBLET_LOG_LEVEL_OFF);
    // The relays let the handshake through: CreateSession, ActivateSession.
    const int s = broken.create_source(0, server().endpoint(port), 1000, 1);
    ASSERT_NE(s, HUBLET_INVALID_HANDLE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(broken.browse_source(s, 1000, 1, "Mixed").first, HUBLET_STATUS_NOT_CONNECTED);
    const int g = broken.create_group(s, "G1");
    const auto [status, items] = broken.subscribe_group(g, {{11, 1, "Mixed.Secret"}});
    ASSERT_EQ(status, HUBLET_STATUS_GOOD);
    EXPECT_EQ(broken.read_group_values(g, items).first, HUBLET_STATUS_NOT_CONNECTED);
    // With the response cut the server did write; the caller cannot know.
    EXPECT_EQ(broken.write_group_values(g, items, {9.75}), HUBLET_STATUS_NOT_CONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  }
}

TEST_F(AwkwardServer, TheChannelTokenIsRenewedBeforeItRunsOut) {
  Options o = options();
  o.channel_lifetime = 500ms;  // the server grants at least 400 ms
  HubletLibrary renewing(o);
  const int s = renewing.create_source(0, server().endpoint(server().port), 100, 1);
  const int g = renewing.create_group(s, "G1");
  const auto [status, items] = renewing.subscribe_group(g, {{11, 1, "Mixed.Flow"}});
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ::testing::internal::CaptureStderr();
  renewing.set_log_level(HUBLET_LOG_LEVEL_DEBUG);
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < 1500ms) {
    const auto [read_status, records] = renewing.read_group_values(g, items);
    ASSERT_EQ(read_status, HUBLET_STATUS_GOOD);
    ASSERT_EQ(records.at(0).value, Value{1.5});
    std::this_thread::sleep_for(100ms);
  }
  renewing.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const std::string log = ::testing::internal::GetCapturedStderr();
  std::size_t renewals = 0;
  for (auto at = log.find("token renewed"); at != std::string::npos; at = log.find("token renewed", at + 1)) {
    ++renewals;
  }
  EXPECT_GE(renewals, 2u) << log;
  EXPECT_EQ(log.find("opened"), std::string::npos) << "no new channel was needed:\n" << log;
}

// Everything browse gives is enough to subscribe the node it found: the
// identifier type tells a string id of digits from a numeric one.
TEST_F(AwkwardServer, EveryBrowsedNodeIsSubscribedExactlyAsBrowsed) {
  const auto [status, records] = hub.browse_source(source, 1000, 1, "Ids");
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  const std::map<std::string, std::tuple<HUBLET_IDTYPE, std::string, double>> expected = {
      {"DigitString", {HUBLET_IDTYPE_STRING, "12345", 1.25}},
      {"DigitNumber", {HUBLET_IDTYPE_NUMERIC, "12345", 2.5}},
      {"Guid", {HUBLET_IDTYPE_GUID, "72962b91-fa75-4ae6-8d28-b404dc7daf63", 3.75}},
      {"Opaque", {HUBLET_IDTYPE_OPAQUE, "AP8QOz0=", 4.5}},
      {"Punctuated", {HUBLET_IDTYPE_STRING, "a;b=c", 5.5}},
      {"Tab\tand\nnew line", {HUBLET_IDTYPE_STRING, "tab\there", 6.5}},
      {"Backslashed", {HUBLET_IDTYPE_STRING, "C:\\dir", 7.5}},
  };
  ASSERT_EQ(records.size(), expected.size());
  std::vector<TagDescriptor> descriptors;
  for (const NodeRecord& r : records) {
    SCOPED_TRACE(r.display_name);
    ASSERT_EQ(expected.count(r.display_name), 1u);
    const auto& [type, name, value] = expected.at(r.display_name);
    EXPECT_EQ(r.identifier_type, type);
    EXPECT_EQ(r.node_name, name);
    descriptors.push_back({r.data_type, r.namespace_index, r.node_name, r.identifier_type});
  }
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors);
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  const auto [read_status, values] = hub.read_group_values(group, items);
  ASSERT_EQ(read_status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(values.size(), records.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].status_code, 0u) << records[i].display_name;
    EXPECT_EQ(values[i].value, Value{std::get<2>(expected.at(records[i].display_name))})
        << records[i].display_name;
  }
  // The old rule still reads digits as a number: the trap a caller that
  // drops identifier_type falls into.
  EXPECT_EQ(read_one(subscribe({"12345"})[0]), Value{2.5});
}

TEST_F(AwkwardServer, ValuesKeepTheirExactFormAndTheirStatus) {
  constexpr std::uint32_t kGood = 0;
  const struct {
    const char* name;
    Value value;
    std::uint32_t status;
    int data_type;
    int array_length;
  } cases[] = {
      {"Values.UInt64Max", std::numeric_limits<std::uint64_t>::max(), kGood, HUBLET_DATATYPE_UINT64, -1},
      {"Values.Int64Min", std::numeric_limits<std::int64_t>::min(), kGood, HUBLET_DATATYPE_INT64, -1},
      {"Values.Int64Max", std::numeric_limits<std::int64_t>::max(), kGood, HUBLET_DATATYPE_INT64, -1},
      {"Values.When", DateTime{134413022461230000}, kGood, HUBLET_DATATYPE_DATETIME,
       -1},  // 2026-12-09T15:04:06.123Z
      {"Values.Text",
       std::string("tab\there\nnew line\r\x07"
                   "bell\\back"),
       kGood, HUBLET_DATATYPE_STRING, -1},
      {"Values.Array", std::monostate{}, kGood, HUBLET_DATATYPE_DOUBLE, 3},
      {"Values.Empty", std::monostate{}, kGood, HUBLET_DATATYPE_UNKNOWN, -1},
      {"Values.Stale", 31.5, 0x80310000, HUBLET_DATATYPE_DOUBLE, -1},     // BadNoCommunication
      {"Values.Doubtful", 12.5, 0x40900000, HUBLET_DATATYPE_DOUBLE, -1},  // UncertainLastUsableValue
      {"Values.Nowhere", std::monostate{}, 0x80340000, HUBLET_DATATYPE_UNKNOWN, -1},  // BadNodeIdUnknown
  };
  std::vector<std::string> names;
  for (const auto& c : cases) names.push_back(c.name);
  const auto [status, records] = hub.read_group_values(group, subscribe(names));
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(records.size(), names.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(records[i].value, cases[i].value);
    EXPECT_EQ(records[i].status_code, cases[i].status);
    EXPECT_EQ(records[i].data_type, cases[i].data_type);
    EXPECT_EQ(records[i].array_length, cases[i].array_length);
  }
  EXPECT_EQ(date_time_text(std::get<DateTime>(records[3].value)), "2026-12-09T15:04:06.123Z");
}

TEST_F(AwkwardServer, ExactWritesReportEveryItemWithTheServersStatus) {
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const auto items = subscribe({"Scratch.Int64", "Scratch.UInt64", "Values.Fixed", "Nowhere", "Mixed.Pump",
                                "Values.When", "Scratch.Int32"});
  const int int64 = items[0], uint64 = items[1], fixed = items[2], nowhere = items[3], pump = items[4],
            when = items[5], count = items[6];
  TagDescriptor digits{HUBLET_DATATYPE_UNKNOWN, 1, "67890", HUBLET_IDTYPE_STRING};
  TagDescriptor number{HUBLET_DATATYPE_UNKNOWN, 1, "67890", HUBLET_IDTYPE_NUMERIC};
  const auto [subscribed, twins] = hub.subscribe_group(group, {digits, number});
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);

  constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
  constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();
  const int kGood = HUBLET_STATUS_GOOD, kNoFit = HUBLET_STATUS_VALUE_DOES_NOT_FIT,
            kRefused = HUBLET_STATUS_SERVER_REFUSED, kUnsupported = HUBLET_STATUS_UNSUPPORTED;
  struct Case {
    int item;
    ExactValue value;
    WriteResult result;
    std::optional<Value> after;  // read back; none for nodes without a value
  };
  const std::vector<Case> cases = {
      {int64,
       std::int64_t{9007199254740993},
       {kGood, 0, HUBLET_DATATYPE_INT64},
       std::int64_t{9007199254740993}},
      {int64, kInt64Min, {kGood, 0, HUBLET_DATATYPE_INT64}, kInt64Min},
      {int64, kUInt64Max, {kNoFit, 0, HUBLET_DATATYPE_INT64}, kInt64Min},
      {uint64, kUInt64Max, {kGood, 0, HUBLET_DATATYPE_UINT64}, kUInt64Max},
      {uint64, std::int64_t{-1}, {kNoFit, 0, HUBLET_DATATYPE_UINT64}, kUInt64Max},
      {count, std::int64_t{3000000000}, {kNoFit, 0, HUBLET_DATATYPE_INT32}, std::int64_t{42}},
      {count, std::string("7"), {kNoFit, 0, HUBLET_DATATYPE_INT32}, std::int64_t{42}},
      {fixed, 1.0, {kRefused, 0x803B0000, HUBLET_DATATYPE_DOUBLE}, 8.5},              // BadNotWritable
      {nowhere, 1.0, {kRefused, 0x80340000, HUBLET_DATATYPE_UNKNOWN}, std::nullopt},  // BadNodeIdUnknown
      {pump, 1.0, {kRefused, 0x80350000, HUBLET_DATATYPE_UNKNOWN}, std::nullopt},     // BadAttributeIdInvalid
      {when, 1.0, {kUnsupported, 0, HUBLET_DATATYPE_DATETIME}, DateTime{134413022461230000}},
      {twins[0], 99.5, {kGood, 0, HUBLET_DATATYPE_DOUBLE}, 99.5},
      {twins[1], std::uint64_t{3}, {kGood, 0, HUBLET_DATATYPE_DOUBLE}, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "item " << c.item);
    const auto [status, results] = hub.write_group_items(group, {c.item}, {c.value});
    ASSERT_EQ(status, HUBLET_STATUS_GOOD);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], c.result);
    if (c.after) {
      EXPECT_EQ(read_one(c.item), *c.after);
    }
  }

  // In one call, every item gets its own outcome and the good ones are written.
  const auto [status, results] =
      hub.write_group_items(group, {fixed, twins[0], nowhere, count}, {2.0, 10.5, 2.0, std::int64_t{-5}});
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  const std::vector<WriteResult> expected = {{kRefused, 0x803B0000, HUBLET_DATATYPE_DOUBLE},
                                             {kGood, 0, HUBLET_DATATYPE_DOUBLE},
                                             {kRefused, 0x80340000, HUBLET_DATATYPE_UNKNOWN},
                                             {kGood, 0, HUBLET_DATATYPE_INT32}};
  EXPECT_EQ(results, expected);
  EXPECT_EQ(read_one(twins[0]), Value{10.5});
  EXPECT_EQ(read_one(twins[1]), Value{3.0}) << "the numeric twin is untouched";
  EXPECT_EQ(read_one(count), Value{std::int64_t{-5}});

  // The double path says the same through the status and last_server_status().
  EXPECT_EQ(hub.write_group_values(group, {fixed}, {3.0}), kRefused);
  EXPECT_EQ(last_server_status(), 0x803B0000u);
  EXPECT_EQ(hub.write_group_values(group, {twins[0]}, {4.0}), kGood);
  EXPECT_EQ(last_server_status(), 0u);
}

TEST_F(AwkwardServer, CallsRefusedAsAWholeKeepTheServersStatus) {
  // A read larger than the server takes in one request: a service fault.
  Options unsplit = options();
  unsplit.max_nodes_per_read = 5000;
  HubletLibrary greedy(unsplit);
  greedy.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const int g = greedy.create_group(greedy.create_source(0, server().endpoint(), 1000, 1), "G1");
  std::vector<TagDescriptor> many;
  for (int i = 0; i < 2001; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Large.L%04d", i);
    many.push_back({HUBLET_DATATYPE_DOUBLE, 1, name});
  }
  const auto [subscribed, items] = greedy.subscribe_group(g, many);
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  EXPECT_EQ(greedy.read_group_values(g, items).first, HUBLET_STATUS_SERVER_REFUSED);
  EXPECT_EQ(last_server_status(), 0x80100000u) << "BadTooManyOperations";
  EXPECT_EQ(greedy.read_group_values(g, {items.begin(), items.begin() + 2000}).first, HUBLET_STATUS_GOOD);
  EXPECT_EQ(last_server_status(), 0u);

  // Servers that refuse the session, connecting at once and on first use.
  const struct {
    int port;
    std::uint32_t status;
  } refusing[] = {
      {server().secure_port, 0x80540000},        // BadSecurityModeRejected: no SecurityPolicy None
      {server().no_anonymous_port, 0x80200000},  // BadIdentityTokenInvalid
  };
  for (const auto& r : refusing) {
    SCOPED_TRACE(r.port);
    HubletLibrary refused(options());
    refused.set_log_level(HUBLET_LOG_LEVEL_OFF);
    EXPECT_EQ(refused.create_source(0, server().endpoint(r.port), 1000, 1), HUBLET_INVALID_HANDLE);
    EXPECT_EQ(last_server_status(), r.status);
    const int lazy = refused.create_source(0, server().endpoint(r.port), 1000, 0);
    EXPECT_EQ(refused.browse_source(lazy, 1000, 0, "85").first, HUBLET_STATUS_SERVER_REFUSED);
    EXPECT_EQ(last_server_status(), r.status);
  }
}

}  // namespace
}  // namespace hublet
