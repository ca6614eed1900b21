// Gateway figures on loopback against the real opcsim, started here on free
// ports: one full period of the SISO group, and how fast SISO can be run
// before its pacing slips.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "gateway_client.h"
#include "opcsim_process.h"
#include "siso_model.h"

namespace {

using namespace std::chrono_literals;

varnok::testing::OpcsimProcess& opcsim() {
  static varnok::testing::OpcsimProcess process;
  return process;
}

// Read the group, run the task, publish what changed: what every period does.
void BM_GatewayPeriodSiso(benchmark::State& state) {
  varnok::siso::SISOSim sim;
  corvex::GatewayClient client("127.0.0.1", opcsim().gateway_port(), 2000ms);
  std::vector<corvex::TagValue> tags;
  for (const auto& [tag, value] : sim.get_data()) tags.push_back({tag, value.to_double()});
  const std::string session = client.register_group("BenchS1", tags, 5000ms, "bench");
  std::int64_t count = 0;
  for (auto _ : state) {
    auto values = client.read("BenchS1", session);
    benchmark::DoNotOptimize(values);
    sim.run_task(++count);
    std::vector<corvex::TagValue> changed;
    for (const char* tag : {"CV1", "OPEN_CV1", "PID_CV1", "PID_MV1", "RunCount"}) {
      changed.push_back({tag, sim.get_data().at(tag).to_double()});
    }
    client.publish("BenchS1", session, changed);
  }
  client.release("BenchS1", session);
}
BENCHMARK(BM_GatewayPeriodSiso)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Runs SISO on the gateway at speed `range(0)` for two seconds and reports
// the share of the requested periods that ran (1.0: pacing kept).
void BM_SisoPacing(benchmark::State& state) {
  const double speed = static_cast<double>(state.range(0));
  for (auto _ : state) {
    auto sim = std::make_shared<varnok::siso::SISOSim>();
    corvex::SimulinkOPCGateTask::Options options;
    options.speed = speed;
    corvex::SimulinkOPCGateTask task("127.0.0.1", opcsim().gateway_port(), sim, "PaceS1", options);
    std::thread runner([&] { task.run(); });
    while (task.get_done_count() == 0) std::this_thread::sleep_for(1ms);
    const auto start_count = task.get_done_count();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    const auto periods = task.get_done_count() - start_count;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    task.stop();
    runner.join();
    state.counters["periods_per_s"] = static_cast<double>(periods) / seconds;
    state.counters["kept"] = static_cast<double>(periods) / (seconds * speed);
  }
}
BENCHMARK(BM_SisoPacing)
    ->Arg(100)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
