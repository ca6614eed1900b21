// OPCCalcTask against the real opcsim; values written and read back through
// OPC UA.

#include "OPCGatePy/opc_calc_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "eventually.h"
#include "hublet/hublet.h"
#include "opcsim_process.h"

namespace opcgatepy {
namespace {

using namespace std::chrono_literals;

using varnok::testing::eventually;

TEST(OPCCalcTaskTest, RefusesWhatCannotRun) {
  const auto calc = [](corvex::ValueMap&, std::int64_t) {};
  const corvex::ValueMap tags{{"A", 1.0}};
  EXPECT_THROW(OPCCalcTask("localhost", 22210, "G", corvex::ValueMap{}, calc), std::invalid_argument);
  EXPECT_THROW(OPCCalcTask("localhost", 22210, "G", tags, nullptr), std::invalid_argument);
  EXPECT_THROW(OPCCalcTask("localhost", 22210, "G", tags, calc, {.periods = -1}), std::invalid_argument);
  EXPECT_THROW(OPCCalcTask("localhost", 0, "G", tags, calc), std::invalid_argument);
}

// IN written over OPC UA comes back doubled as OUT each period, until the
// period count ends run() by itself; a calculation that throws costs only
// its own period.
TEST(OPCCalcTaskTest, CalculatesEachPeriodOnWrittenValuesAndEndsAfterItsPeriodCount) {
  varnok::testing::OpcsimProcess opcsim;
  std::atomic<int> failures{0};
  OPCCalcTask task(
      "localhost", opcsim.gateway_port(), "CT1", {{"IN", 1.0}, {"OUT", 0.0}},
      [&](corvex::ValueMap& tags, std::int64_t period) {
        if (period == 2) {
          ++failures;
          throw std::runtime_error("period 2 fails");
        }
        tags.set("OUT", 2.0 * tags.at("IN").to_double());
      },
      {.sampling_time = 0.1, .periods = 40, .gate = {.call_timeout = 1000ms, .retry_interval = 200ms}});
  std::atomic<bool> returned{false};
  std::thread runner([&] {
    task.run();
    returned = true;
  });

  hublet::HubletLibrary hub;
  const int source =
      hub.create_source(0, "opc.tcp://127.0.0.1:" + std::to_string(opcsim.opcua_port()), 1000, 1);
  const int group = hub.create_group(source, "test");
  const auto [status, items] = hub.subscribe_group(
      group, {{hublet::HUBLET_DATATYPE_DOUBLE, 2, "CT1.IN"}, {hublet::HUBLET_DATATYPE_DOUBLE, 2, "CT1.OUT"}});
  const auto out = [&, items = items] {
    const auto [read_status, values] = hub.read_group_values(group, {items[1]});
    return read_status < 0 || values.empty() || !std::holds_alternative<double>(values[0].value)
               ? -1.0
               : std::get<double>(values[0].value);
  };
  EXPECT_TRUE(eventually([&] { return out() == 2.0; }));
  EXPECT_EQ(hub.write_group_values(group, {items[0]}, {5.25}), hublet::HUBLET_STATUS_GOOD);
  EXPECT_TRUE(eventually([&] { return out() == 10.5; }));

  const bool ended = eventually([&] { return returned.load(); });
  if (!ended) task.stop();
  runner.join();
  EXPECT_TRUE(ended) << "run() did not end after 40 periods";
  EXPECT_EQ(task.get_done_count(), 40);
  EXPECT_EQ(failures, 1);
}

}  // namespace
}  // namespace opcgatepy
