#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "eventually.h"
#include "gateway_client.h"
#include "opcsim_process.h"

namespace corvex {
namespace {

using namespace std::chrono_literals;
using varnok::testing::OpcsimProcess;

// Counts its periods into "Count"; fails every tenth period when asked.
class CountingSim final : public Simulink {
 public:
  explicit CountingSim(bool fail_every_tenth = false)
      : Simulink({{"Count", 0}, {"Echo", 0.0}, {"Input", 1.5}}), fail_every_tenth_(fail_every_tenth) {}
  void task() override {
    if (fail_every_tenth_ && get_task_count() % 10 == 0) throw std::runtime_error("tenth period");
    get_data().set("Count", get_task_count());
    get_data().set("Echo", get_data().at("Input").to_double());
  }

 private:
  bool fail_every_tenth_;
};

// Runs a task on its own thread for the lifetime of the object.
class Running {
 public:
  explicit Running(SimulinkOPCGateTask& task) : task_(task), thread_([this] { task_.run(); }) {}
  ~Running() { stop(); }
  std::chrono::milliseconds stop() {
    const auto t0 = std::chrono::steady_clock::now();
    task_.stop();
    if (thread_.joinable()) thread_.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  }

 private:
  SimulinkOPCGateTask& task_;
  std::thread thread_;
};

using varnok::testing::eventually;

SimulinkOPCGateTask::Options fast(double speed = 20.0) {
  SimulinkOPCGateTask::Options options;
  options.speed = speed;
  options.retry_interval = 200ms;
  options.call_timeout = 1000ms;
  options.lease = 1500ms;
  return options;
}

TEST(GateTask, PacesPeriodsAtTheRequestedSpeedWithoutBursts) {
  OpcsimProcess opcsim;
  auto sim = std::make_shared<CountingSim>();
  SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "G1", fast(20.0));
  Running running(task);
  ASSERT_TRUE(eventually([&] { return task.get_done_count() > 0; }));
  const auto start = task.get_done_count();
  std::this_thread::sleep_for(2s);
  const auto periods = task.get_done_count() - start;
  // 40 periods in 2 s at speed 20; loose bounds for a loaded machine.
  EXPECT_GE(periods, 25);
  EXPECT_LE(periods, 42);
}

TEST(GateTask, SecondTaskOnTheSameGroupWaitsUntilTheFirstStops) {
  OpcsimProcess opcsim;
  auto first_sim = std::make_shared<CountingSim>();
  auto second_sim = std::make_shared<CountingSim>();
  SimulinkOPCGateTask first("127.0.0.1", opcsim.gateway_port(), first_sim, "G1", fast());
  SimulinkOPCGateTask second("127.0.0.1", opcsim.gateway_port(), second_sim, "G1", fast());
  Running run_first(first);
  ASSERT_TRUE(eventually([&] { return first.get_done_count() > 0; }));
  Running run_second(second);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(second.get_done_count(), 0);  // refused while the first serves the group
  run_first.stop();
  EXPECT_TRUE(eventually([&] { return second.get_done_count() > 0; }, 5s));
}

TEST(GateTask, StopEndsRunWithinAPeriodAndDuringRetries) {
  {
    OpcsimProcess opcsim;
    SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), std::make_shared<CountingSim>(), "G1",
                             fast(1.0));
    Running running(task);
    ASSERT_TRUE(eventually([&] { return task.get_done_count() > 0; }));
    EXPECT_LT(running.stop(), 1100ms);
  }
  // Nothing listens: the task is retrying.
  SimulinkOPCGateTask task("127.0.0.1", varnok::testing::free_port(), std::make_shared<CountingSim>(), "G1",
                           fast());
  Running running(task);
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(running.stop(), 500ms);
  EXPECT_EQ(task.get_done_count(), 0);
}

TEST(GateTask, ComesBackAfterTheGatewayRestartsAndKeepsCounting) {
  OpcsimProcess opcsim;
  auto sim = std::make_shared<CountingSim>();
  SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "G1", fast());
  Running running(task);
  ASSERT_TRUE(eventually([&] { return task.get_done_count() >= 5; }));
  opcsim.kill_now();
  std::this_thread::sleep_for(500ms);
  const auto before = task.get_done_count();
  opcsim.start();
  ASSERT_TRUE(eventually([&] { return task.get_done_count() >= before + 10; }, 20s));

  GatewayClient probe("127.0.0.1", opcsim.gateway_port(), 1000ms);
  EXPECT_THROW(probe.register_group("G1", {{"Count", 0}}, 2000ms, "probe"), GatewayError);  // served again
  // The count went on from where it was, not from 0.
  EXPECT_GT(sim->get_task_count(), before);
}

TEST(GateTask, AThrowingTaskCostsALineAndTheCycleGoesOn) {
  OpcsimProcess opcsim;
  auto sim = std::make_shared<CountingSim>(true);
  SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "G1", fast(50.0));
  Running running(task);
  EXPECT_TRUE(eventually([&] { return task.get_done_count() >= 25; }));
  EXPECT_GE(sim->get_task_count(), 25);
}

TEST(GateTask, AGroupTheGatewayRefusesEndsRunWithTheReasonInsteadOfRetrying) {
  OpcsimProcess opcsim;
  auto sim = std::make_shared<CountingSim>();
  SimulinkOPCGateTask task("127.0.0.1", opcsim.gateway_port(), sim, "a.b", fast(50.0));
  try {
    task.run();
    ADD_FAILURE() << "run() returned";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("contains \".\""), std::string::npos) << e.what();
  }
  EXPECT_EQ(task.get_done_count(), 0);
}

TEST(GateTask, RefusesBadArguments) {
  auto sim = std::make_shared<CountingSim>();
  EXPECT_THROW(SimulinkOPCGateTask("localhost", 0, sim, "G1"), std::invalid_argument);
  EXPECT_THROW(SimulinkOPCGateTask("localhost", 22210, nullptr, "G1"), std::invalid_argument);
  EXPECT_THROW(SimulinkOPCGateTask("localhost", 22210, sim, ""), std::invalid_argument);
  SimulinkOPCGateTask::Options options;
  options.speed = 0.0;
  EXPECT_THROW(SimulinkOPCGateTask("localhost", 22210, sim, "G1", options), std::invalid_argument);
}

}  // namespace
}  // namespace corvex
