#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "corvex/mimo_sim.h"

namespace {

// A 7-CV, 5-input plant of first-order lags with dead time, the size of the
// largest model, and its initial values.
struct Plant7x5 {
  corvex::PlantDescription plant;
  corvex::ValueMap initial;
};

Plant7x5 plant_7x5() {
  Plant7x5 out;
  auto& [plant, initial] = out;
  const auto name = [](char prefix, int i) {
    std::string text(1, prefix);
    text += std::to_string(i);
    return text;
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
  return out;
}

// Tags by name: inputs looked up, outputs returned in a map.
void BM_MimoSimRun7x5(benchmark::State& state) {
  const auto [plant, initial] = plant_7x5();
  corvex::MIMOSim sim(plant, initial, 1.0);
  corvex::ValueMap inputs = initial;
  inputs.set("U1", 11.0);
  const corvex::ValueMap noise{{"Y1", 0.1}};
  for (auto _ : state) benchmark::DoNotOptimize(sim.run(inputs, noise));
}
BENCHMARK(BM_MimoSimRun7x5);

// Tags by their places in a live map, as the plants run it.
void BM_MimoSimRunAt7x5(benchmark::State& state) {
  const auto [plant, initial] = plant_7x5();
  corvex::MIMOSim sim(plant, initial, 1.0);
  corvex::ValueMap live = initial;
  live.set("U1", 11.0);
  const corvex::MIMOSim::Places places = sim.places_in(live);
  const std::vector<double> noise{0.1, 0, 0, 0, 0, 0, 0};
  for (auto _ : state) {
    sim.run_at(live, places, noise);
    benchmark::DoNotOptimize(live);
  }
}
BENCHMARK(BM_MimoSimRunAt7x5);

}  // namespace
