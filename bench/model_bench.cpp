// Per-period cost and load time of every built-in plant, through the same
// loader the launcher uses.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "varnok/frame/loader.h"

namespace {

std::shared_ptr<corvex::Simulink> load(const std::string& module, const std::string& object) {
  const varnok::frame::ModuleLoader loader({VARNOK_BENCH_PLUGIN_ROOT});
  return std::get<std::shared_ptr<corvex::Simulink>>(loader.load(module)->get_object(object));
}

// Noise and random disturbances on where the model has switches, so the
// period does all its work.
void BM_ModelTask(benchmark::State& state, const std::string& module, const std::string& object) {
  auto sim = load(module, object);
  auto& data = sim->get_data();
  for (const char* tag : {"SET_CV1_STD", "SET_CV_STD", "SET_DV1_RANDOM", "SET_DV_RANDOM"}) {
    if (data.contains(tag)) data.set(tag, 1.0);
  }
  std::int64_t count = 0;
  for (auto _ : state) sim->run_task(++count);
}

// dlopen, module build and the noise generation.
void BM_ModelLoad(benchmark::State& state, const std::string& module, const std::string& object) {
  for (auto _ : state) benchmark::DoNotOptimize(load(module, object));
}

#define VARNOK_MODEL_BENCHMARKS(name, module, object)                                      \
  BENCHMARK_CAPTURE(BM_ModelTask, name, module, object);                                   \
  BENCHMARK_CAPTURE(BM_ModelLoad, name, module, object)->Unit(benchmark::kMillisecond);

VARNOK_MODEL_BENCHMARKS(SISO, "varnok.SISO", "TrainingSISO")
VARNOK_MODEL_BENCHMARKS(Brinell, "varnok.Brinell", "Brinell")
VARNOK_MODEL_BENCHMARKS(Calder, "varnok.Calder", "MIMOModel_2x3")
VARNOK_MODEL_BENCHMARKS(Fractor, "varnok.Fractor", "Fractor")
VARNOK_MODEL_BENCHMARKS(Dunmore, "varnok.Dunmore", "LPV_SISO_process")
VARNOK_MODEL_BENCHMARKS(Farrow, "varnok.Farrow", "DV_process")

}  // namespace
