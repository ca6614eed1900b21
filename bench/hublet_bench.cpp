// hublet figures on loopback against the real opcsim, started here on free
// ports with two groups: B30 (30 tags) and B1000 (1000 tags). What the viewer
// worker does every period (one read of its group) and at start (browse).

#include <benchmark/benchmark.h>

#include <chrono>
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
  for (auto _ : state) {
    auto [status, records] = hub.read_group_values(group, items);
    if (status < 0 || records.size() != items.size()) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(records);
  }
  state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_ReadGroup)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// browse_source of B1000: Browse (one page of 1000 references) and the Read
// of DataType and access levels of the 1000 variables.
void BM_Browse1000Children(benchmark::State& state) {
  hublet::HubletLibrary hub;
  const int source = hub.create_source(0, server().endpoint(), 1000, 1);
  for (auto _ : state) {
    auto [status, records] = hub.browse_source(source, 1000, 2, "B1000");
    if (status < 0 || records.size() != 1000) {
      state.SkipWithError("browse failed");
      break;
    }
    benchmark::DoNotOptimize(records);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Browse1000Children)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
