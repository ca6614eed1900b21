// hublet against a node-opcua server built to be awkward (awkward_server.js):
// mixed node classes, an unreadable variable, several data types, a numeric
// id, a folder larger than a Browse page, a slow variable, relays that break
// connections mid-request. One server serves all tests of this program.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <tuple>

#include "child_process.h"
#include "hublet/hublet.h"
#include "opcsim_process.h"

namespace hublet {
namespace {

using namespace std::chrono_literals;
using Value = decltype(ValueRecord::value);

struct Server {
  int port = varnok::testing::free_port();
  int drop_port = varnok::testing::free_port();
  int cut_port = varnok::testing::free_port();
  testing::ChildProcess process{
      {"node", HUBLET_AWKWARD_SERVER, "--port", std::to_string(port), "--drop-port",
       std::to_string(drop_port), "--cut-port", std::to_string(cut_port), "--min-token-lifetime", "400"},
      "ready"};
  std::string endpoint(int p) const { return "opc.tcp://localhost:" + std::to_string(p); }
};

const Server& server() {
  static const Server instance;
  return instance;
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
  // Not a variable: nothing to convert to.
  EXPECT_EQ(hub.write_group_values(group, subscribe({"Mixed.Pump"}), {1.0}), HUBLET_STATUS_UNSUPPORTED);
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

}  // namespace
}  // namespace hublet
