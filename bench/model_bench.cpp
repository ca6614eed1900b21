#include <benchmark/benchmark.h>

#include "siso_model.h"
#include "varnok/frame/loader.h"

namespace {

void BM_SisoTask(benchmark::State& state) {
  varnok::siso::SISOSim sim;
  sim.get_data().set("SET_CV1_STD", 1.0);
  sim.get_data().set("SET_DV1_RANDOM", 1.0);
  std::int64_t count = 0;
  for (auto _ : state) sim.run_task(++count);
}
BENCHMARK(BM_SisoTask);

// dlopen, module build and the noise generation of 300000 draws.
void BM_SisoPluginLoad(benchmark::State& state) {
  const varnok::frame::ModuleLoader loader({VARNOK_BENCH_PLUGIN_ROOT});
  for (auto _ : state) benchmark::DoNotOptimize(loader.load("varnok.SISO")->get_object("TrainingSISO"));
}
BENCHMARK(BM_SisoPluginLoad)->Unit(benchmark::kMillisecond);

}  // namespace
