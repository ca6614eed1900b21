// The Exchange stream against the real opcsim: its order guarantees and its
// refusals, which a task sees at its next read.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "gateway_client.h"
#include "opcsim_process.h"

namespace corvex {
namespace {

using namespace std::chrono_literals;

varnok::testing::OpcsimProcess& opcsim() {
  static varnok::testing::OpcsimProcess process;
  return process;
}

const std::vector<TagValue> kTags = {{"a", 1.0}, {"b", 2.0}, {"c", 3.0}};

TEST(Exchange, ChangesAreInPlaceBeforeTheNextReadAndBeforeTheStreamCloses) {
  GatewayClient client("127.0.0.1", opcsim().gateway_port(), 5000ms);
  const std::string session = client.register_group("X1", kTags, 5000ms, "test");
  client.open_exchange("X1", session);
  std::vector<double> values;
  client.exchange_read(values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 2.0, 3.0}));
  for (int period = 0; period < 50; ++period) {
    client.exchange_publish({2, 0}, {period + 0.5, -period - 0.25});
    client.exchange_read(values);
    ASSERT_EQ(values, (std::vector<double>{-period - 0.25, 2.0, period + 0.5})) << "period " << period;
  }
  // Not waited for: closing the stream must still apply it.
  client.exchange_publish({1}, {std::numeric_limits<double>::denorm_min()});
  client.close_exchange();
  const auto tags = client.read("X1", session);
  EXPECT_EQ(tags.at(1).value, std::numeric_limits<double>::denorm_min());
  client.release("X1", session);
}

TEST(Exchange, RefusedChangesEndTheStreamWithTheReasonAtTheNextRead) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> places;
    std::vector<double> values;
    GatewayError::Kind kind;
    const char* says;
  };
  const Case cases[] = {
      {"a place past the group", {3}, {1.0}, GatewayError::Kind::kInvalid, "no tag at place 3"},
      {"a tag twice", {1, 1}, {1.0, 2.0}, GatewayError::Kind::kInvalid, "\"b\" is published twice"},
      {"more places than values", {0, 1}, {1.0}, GatewayError::Kind::kInvalid, "2 changed tags but 1 values"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string group = "XR" + std::to_string(++n);
    GatewayClient client("127.0.0.1", opcsim().gateway_port(), 5000ms);
    const std::string session = client.register_group(group, kTags, 5000ms, "test");
    client.open_exchange(group, session);
    client.exchange_publish(c.places, c.values);
    std::vector<double> values;
    try {
      client.exchange_read(values);
      ADD_FAILURE() << "accepted";
    } catch (const GatewayError& e) {
      EXPECT_EQ(e.kind(), c.kind);
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    // Nothing of a refused message is set.
    EXPECT_EQ(client.read(group, session).at(0).value, 1.0);
    client.release(group, session);
  }
}

TEST(Exchange, AStreamOfASessionThatIsGoneAsksToRegisterAgain) {
  GatewayClient client("127.0.0.1", opcsim().gateway_port(), 5000ms);
  const std::string session = client.register_group("X2", kTags, 5000ms, "test");
  client.release("X2", session);
  client.open_exchange("X2", session);
  std::vector<double> values;
  try {
    client.exchange_read(values);
    ADD_FAILURE() << "answered";
  } catch (const GatewayError& e) {
    EXPECT_EQ(e.kind(), GatewayError::Kind::kSessionLost) << e.what();
  }
}

}  // namespace
}  // namespace corvex
