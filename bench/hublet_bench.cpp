// hublet figures on loopback against the real opcsim, started here on free
// ports with two groups: B30 (30 tags) and B1000 (1000 tags). What the viewer
// worker does every period (one read of its group) and at start (browse).
//
// hublet does all its work on the calling thread, so the CPU column is the
// client's own CPU per call; server_cpu is opcsim's (all its threads) per
// call, which is most of the wall time.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hublet/hublet.h"
#include "numbered_groups.h"
#include "opcsim_process.h"

namespace {

using namespace std::chrono_literals;

using varnok::bench::numbered;

struct Server {
  Server() {
    varnok::bench::register_numbered_groups(process.gateway_port(), "B", {30, 1000}, "hublet-bench");
  }
  std::string endpoint() const { return "opc.tcp://localhost:" + std::to_string(process.opcua_port()); }
  varnok::testing::OpcsimProcess process;
};

Server& server() {
  static Server instance;
  return instance;
}

// CPU seconds used so far by this process's child `node` processes (opcsim),
// from /proc; 0 when /proc cannot tell.
double opcsim_cpu_seconds() {
  const std::string self = std::to_string(::getpid());
  std::ifstream children("/proc/" + self + "/task/" + self + "/children");
  double seconds = 0;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  for (std::string pid; children >> pid;) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    if (!(comm >> name) || name != "node") continue;
    std::ifstream stat_file("/proc/" + pid + "/stat");
    std::string stat((std::istreambuf_iterator<char>(stat_file)), std::istreambuf_iterator<char>());
    // Fields after the command (which may hold blanks): state is field 3,
    // utime and stime fields 14 and 15.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14 && fields >> field; ++i) {
    }
    double utime = 0;
    double stime = 0;
    if (fields >> utime >> stime) seconds += (utime + stime) / tick;
  }
  return seconds;
}

// opcsim's CPU per iteration, as a counter in milliseconds.
class ServerCpu {
 public:
  ServerCpu() : start_(opcsim_cpu_seconds()) {}
  void report(benchmark::State& state) const {
    state.counters["server_cpu_ms"] =
        benchmark::Counter((opcsim_cpu_seconds() - start_) * 1e3, benchmark::Counter::kAvgIterations);
  }

 private:
  double start_;
};

// One read_group_values of the whole group B<range(0)>.
void BM_ReadGroup(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  hublet::HubletLibrary hub;
  const int source = hub.create_source(0, server().endpoint(), 1000, 1);
  const int group = hub.create_group(source, "G1");
  std::vector<hublet::TagDescriptor> descriptors;
  for (int i = 0; i < size; ++i) {
    descriptors.push_back({hublet::HUBLET_DATATYPE_DOUBLE, 2, numbered("B", size) + "." + numbered("T", i)});
  }
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors);
  if (source == hublet::HUBLET_INVALID_HANDLE || subscribed < 0) {
    state.SkipWithError("cannot subscribe");
    return;
  }
  const ServerCpu server_cpu;
  for (auto _ : state) {
    auto [status, records] = hub.read_group_values(group, items);
    if (status < 0 || records.size() != items.size()) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(records);
  }
  server_cpu.report(state);
  state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_ReadGroup)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// browse_source of B1000: Browse (one page of 1000 references) and the Read
// of DataType and access levels of the 1000 variables.
void BM_Browse1000Children(benchmark::State& state) {
  hublet::HubletLibrary hub;
  const int source = hub.create_source(0, server().endpoint(), 1000, 1);
  const ServerCpu server_cpu;
  for (auto _ : state) {
    auto [status, records] = hub.browse_source(source, 1000, 2, "B1000");
    if (status < 0 || records.size() != 1000) {
      state.SkipWithError("browse failed");
      break;
    }
    benchmark::DoNotOptimize(records);
  }
  server_cpu.report(state);
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Browse1000Children)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
