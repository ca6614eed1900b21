#include <benchmark/benchmark.h>

#include <string>

#include "corvex/mimo_sim.h"

namespace {

// A 7-CV, 5-input plant of first-order lags with dead time, the size of the
// largest model.
void BM_MimoSimRun7x5(benchmark::State& state) {
  corvex::PlantDescription plant;
  corvex::ValueMap initial;
  const auto name = [](char prefix, int i) {
    std::string out(1, prefix);
    out += std::to_string(i);
    return out;
  };
  for (int i = 1; i <= 5; ++i) initial.set(name('U', i), 10.0);
  for (int cv = 1; cv <= 7; ++cv) {
    const std::string tag = name('Y', cv);
    initial.set(tag, 30.0 + cv);
    for (int in = 1; in <= 5; ++in) {
      plant[tag].set(
          name('U', in),
          {.num_s = {0, 1.0 + in}, .den_s = {10.0 * cv + in, 1}, .iodelay_s = static_cast<double>(cv + in)});
    }
  }
  corvex::MIMOSim sim(plant, initial, 1.0);
  corvex::ValueMap inputs = initial;
  inputs.set("U1", 11.0);
  const corvex::ValueMap noise{{"Y1", 0.1}};
  for (auto _ : state) benchmark::DoNotOptimize(sim.run(inputs, noise));
}
BENCHMARK(BM_MimoSimRun7x5);

}  // namespace
