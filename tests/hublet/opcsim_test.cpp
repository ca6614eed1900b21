// hublet against the real opcsim: the group a model task registers, seen
// the way the viewer worker sees it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "child_process.h"
#include "hublet/hublet.h"
#include "opcsim_fixture.h"

namespace hublet {
namespace {

using namespace std::chrono_literals;
using testing::s1_tags;
using testing::shared_opcsim;
using Value = decltype(ValueRecord::value);

Options quick() {
  Options o;
  o.connect_timeout = 3s;
  o.request_timeout = 3s;
  return o;
}

// The value is this double.
bool is(const Value& v, double d) {
  const double* p = std::get_if<double>(&v);
  return p != nullptr && *p == d;
}

std::vector<TagDescriptor> descriptors(const std::string& group, const std::vector<std::string>& tags) {
  std::vector<TagDescriptor> out;
  for (const auto& t : tags) out.push_back({HUBLET_DATATYPE_DOUBLE, 2, group + "." + t});
  return out;
}

class Opcsim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared_opcsim(); }
  HubletLibrary hub{quick()};
};

TEST_F(Opcsim, BrowseListsTheGroupsTagsInRegistrationOrder) {
  const int source = hub.create_source(0, shared_opcsim().endpoint(), 1000, 1);
  ASSERT_NE(source, HUBLET_INVALID_HANDLE);
  const auto [status, records] = hub.browse_source(source, 1000, 2, "S1");
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(records.size(), s1_tags().size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const NodeRecord& r = records[i];
    SCOPED_TRACE(s1_tags()[i].name);
    EXPECT_EQ(r.node_type, HUBLET_NODETYPE_VARIABLE);
    EXPECT_TRUE(r.is_readable);
    EXPECT_EQ(r.data_type, HUBLET_DATATYPE_DOUBLE);
    EXPECT_EQ(r.namespace_index, 2);
    EXPECT_EQ(r.node_name, "S1." + s1_tags()[i].name);
    EXPECT_EQ(r.display_name, s1_tags()[i].name);
  }
}

TEST_F(Opcsim, ReadGivesThePublishedValuesBitForBit) {
  const int source = hub.create_source(0, shared_opcsim().endpoint("127.0.0.1"), 1000, 1);
  const int group = hub.create_group(source, "G1");
  std::vector<std::string> names;
  for (const auto& t : s1_tags()) names.push_back(t.name);
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors("S1", names));
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  const auto [status, records] = hub.read_group_values(group, items);
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(records.size(), names.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_TRUE(std::holds_alternative<double>(records[i].value)) << names[i];
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(records[i].value)),
              std::bit_cast<std::uint64_t>(s1_tags()[i].value))
        << names[i];
  }
}

TEST_F(Opcsim, AWrittenValueIsReadBackExactlyByAnotherSession) {
  const int source = hub.create_source(0, shared_opcsim().endpoint(), 1000, 1);
  const int group = hub.create_group(source, "G1");
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors("W1", {"A", "B", "C"}));
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  const std::vector<double> values = {0.1 + 0.2, -1e-300, 42.0};
  ASSERT_EQ(hub.write_group_values(group, items, values), HUBLET_STATUS_GOOD);

  HubletLibrary other(quick());
  const int other_source = other.create_source(0, shared_opcsim().endpoint(), 1000, 1);
  const int other_group = other.create_group(other_source, "G1");
  const auto [ok, other_items] = other.subscribe_group(other_group, descriptors("W1", {"A", "B", "C"}));
  const auto [status, records] = other.read_group_values(other_group, other_items);
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].value, Value{values[i]});
}

TEST_F(Opcsim, AWriterThreadAndAReaderThreadNeverGetAWrongAnswer) {
  const int source = hub.create_source(0, shared_opcsim().endpoint(), 1000, 1);
  const int group = hub.create_group(source, "G1");
  std::vector<std::string> names;
  for (int i = 0; i < 29; ++i) names.push_back(testing::constant_name(i));
  names.push_back("W");
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors("T2", names));
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  const int w = items.back();

  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::atomic<int> writes{0};
  std::atomic<int> reads{0};
  std::thread writer([&] {
    for (int k = 1; !done.load(); ++k) {
      if (hub.write_group_values(group, {w}, {static_cast<double>(k)}) != HUBLET_STATUS_GOOD) ++wrong;
      const auto [status, records] = hub.read_group_values(group, {w});
      if (status != HUBLET_STATUS_GOOD || records.size() != 1 || !is(records[0].value, k)) ++wrong;
      writes.store(k);
    }
  });
  std::thread reader([&] {
    double last_w = 0.0;
    while (!done.load()) {
      const auto [status, records] = hub.read_group_values(group, items);
      if (status != HUBLET_STATUS_GOOD || records.size() != items.size()) {
        ++wrong;
        continue;
      }
      for (int i = 0; i < 29; ++i) {
        if (!is(records[i].value, i * 1.5)) ++wrong;
      }
      const auto* now_w = std::get_if<double>(&records.back().value);
      if (now_w == nullptr || *now_w < last_w || *now_w > writes.load() + 1) ++wrong;
      if (now_w != nullptr) last_w = *now_w;
      ++reads;
    }
  });
  std::this_thread::sleep_for(2s);
  done = true;
  writer.join();
  reader.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(writes.load(), 20);
  EXPECT_GT(reads.load(), 20);
}

TEST_F(Opcsim, TheSourceReconnectsWhenTheServerIsBack) {
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const int source = hub.create_source(0, shared_opcsim().endpoint(), 1000, 1);
  const int group = hub.create_group(source, "G1");
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors("S1", {"MV1"}));
  ASSERT_EQ(hub.read_group_values(group, items).first, HUBLET_STATUS_GOOD);

  shared_opcsim().kill();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hub.read_group_values(group, items).first, HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_EQ(hub.write_group_values(group, items, {2.0}), HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_EQ(hub.browse_source(source, 1000, 2, "S1").first, HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  shared_opcsim().restart();
  const auto [status, records] = hub.read_group_values(group, items);
  ASSERT_EQ(status, HUBLET_STATUS_GOOD) << "a new channel and session on the first call";
  EXPECT_EQ(records.at(0).value, Value{50.0});
}

TEST(OpcsimLoopback, BothLoopbackAddressesOfLocalhostReachTheServer) {
  // opcsim on "localhost" listens on 127.0.0.1 and relays [::1].
  const int port = varnok::testing::free_port();
  const auto state = std::filesystem::temp_directory_path() / ("hublet-opcsim-" + std::to_string(getpid()));
  testing::ChildProcess opcsim(
      {"node", VARNOK_OPCSIM_ENTRY, "--host", "localhost", "--opcua-port", std::to_string(port),
       "--gateway-port", std::to_string(varnok::testing::free_port()), "--state-dir", state.string()},
      "OPC UA on");
  for (const std::string host : {"localhost", "[::1]", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    HubletLibrary hub(quick());
    const int source = hub.create_source(0, "opc.tcp://" + host + ":" + std::to_string(port), 1000, 1);
    ASSERT_NE(source, HUBLET_INVALID_HANDLE);
    const auto [status, records] = hub.browse_source(source, 1000, 0, "85");
    EXPECT_EQ(status, HUBLET_STATUS_GOOD);
    EXPECT_FALSE(records.empty());
  }
  opcsim.stop();
  std::error_code ignored;
  std::filesystem::remove_all(state, ignored);
}

}  // namespace
}  // namespace hublet
