// Gateway figures on loopback against the real opcsim, started here on free
// ports: one full period of the SISO group, and how fast SISO can be run
// before its pacing slips, counted by what an OPC UA client sees.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <variant>

#include "corvex/simulink_opc_gate_task.h"
#include "gateway_client.h"
#include "hublet/hublet.h"
#include "opcsim_process.h"
#include "siso_model.h"

namespace {

using namespace std::chrono_literals;

varnok::testing::OpcsimProcess& opcsim() {
  static varnok::testing::OpcsimProcess process;
  return process;
}

// Read the group, run the task, publish what changed: what every period
// does, on the session's Exchange stream.
void BM_GatewayPeriodSiso(benchmark::State& state) {
  varnok::siso::SISOSim sim;
  corvex::GatewayClient client("127.0.0.1", opcsim().gateway_port(), 2000ms);
  std::vector<corvex::TagValue> tags;
  for (const auto& [tag, value] : sim.get_data()) tags.push_back({tag, value.to_double()});
  const std::string session = client.register_group("BenchS1", tags, 5000ms, "bench");
  client.open_exchange("BenchS1", session);
  std::vector<std::uint32_t> places;
  for (const char* tag : {"CV1", "OPEN_CV1", "PID_CV1", "PID_MV1", "RunCount"}) {
    places.push_back(static_cast<std::uint32_t>(sim.get_data().index_of(tag)));
  }
  std::vector<double> values;
  std::vector<double> changed(places.size());
  std::int64_t count = 0;
  for (auto _ : state) {
    client.exchange_read(values);
    benchmark::DoNotOptimize(values);
    sim.run_task(++count);
    for (std::size_t i = 0; i < places.size(); ++i) changed[i] = sim.get_data().value_at(places[i]).to_double();
    client.exchange_publish(places, changed);
  }
  client.close_exchange();
  client.release("BenchS1", session);
}
BENCHMARK(BM_GatewayPeriodSiso)->Unit(benchmark::kMicrosecond)->UseRealTime();

// RunCount of group `group` as an OPC UA client reads it.
class RunCountReader {
 public:
  explicit RunCountReader(const std::string& group) {
    const std::string endpoint = "opc.tcp://127.0.0.1:" + std::to_string(opcsim().opcua_port());
    const int source = hub_.create_source(0, endpoint, 1000, 1);
    group_ = hub_.create_group(source, "pacing");
    items_ = hub_.subscribe_group(group_, {{hublet::HUBLET_DATATYPE_DOUBLE, 2, group + ".RunCount"}}).second;
  }
  double read() {
    auto [status, records] = hub_.read_group_values(group_, items_);
    const double* count = records.size() == 1 ? std::get_if<double>(&records[0].value) : nullptr;
    if (status < 0 || count == nullptr) throw std::runtime_error("cannot read RunCount");
    return *count;
  }

 private:
  hublet::HubletLibrary hub_;
  int group_ = 0;
  std::vector<int> items_;
};

// Runs SISO on the gateway at speed `range(0)` for two seconds and reports
// the share of the requested periods that reached the server (1.0: pacing
// kept), by RunCount read over OPC UA before and after.
void BM_SisoPacing(benchmark::State& state) {
  const double speed = static_cast<double>(state.range(0));
  for (auto _ : state) {
    auto sim = std::make_shared<varnok::siso::SISOSim>();
    corvex::SimulinkOPCGateTask::Options options;
    options.speed = speed;
    corvex::SimulinkOPCGateTask task("127.0.0.1", opcsim().gateway_port(), sim, "PaceS1", options);
    std::thread runner([&] { task.run(); });
    while (task.get_done_count() == 0) std::this_thread::sleep_for(1ms);
    RunCountReader run_count("PaceS1");
    const double start_count = run_count.read();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    const double periods = run_count.read() - start_count;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    task.stop();
    runner.join();
    state.counters["periods_per_s"] = periods / seconds;
    state.counters["kept"] = periods / (seconds * speed);
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
