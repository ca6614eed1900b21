// A 10x10 plant file: reading and checking it, building the plant, and one
// period of it.

#include <benchmark/benchmark.h>

#include <string>

#include "varnok/plantfile/file_plant.h"
#include "varnok/plantfile/plant_file.h"

namespace {

// Ten MVs, ten noisy CVs, every CV fed by every MV through a first-order
// path with a fractional dead time (one in ten second order), and a PID
// loop on the first pair.
std::string ten_by_ten() {
  std::string text = "name: ten by ten\ntime_unit: min\ninputs:\n";
  for (int i = 1; i <= 10; ++i)
    text += "  MV" + std::to_string(i) + ": {initial: " + std::to_string(i) + "}\n";
  text += "outputs:\n";
  for (int o = 1; o <= 10; ++o) {
    text += "  CV" + std::to_string(o) + ":\n    initial: 50\n    noise: {std: 0.1}\n    paths:\n";
    for (int i = 1; i <= 10; ++i) {
      const std::string dead = std::to_string(0.5 * (i + o) + 0.3);
      text += "      MV" + std::to_string(i) + ": " +
              (i == o ? "{num: [0.5, 1], den: [20, 9, 1], dead_time: " + dead + "}\n"
                      : "{gain: " + std::to_string(0.1 * i) +
                            ", time_constant: " + std::to_string(5 + i + o) + ", dead_time: " + dead + "}\n");
    }
  }
  text += "controllers:\n  FC1: {measurement: CV1, output: MV1, kp: 0.5, ti: 10}\n";
  return text;
}

void BM_PlantFileRead(benchmark::State& state) {
  const std::string text = ten_by_ten();
  for (auto _ : state) benchmark::DoNotOptimize(varnok::plantfile::parse_plant_file(text, "bench.yaml"));
}
BENCHMARK(BM_PlantFileRead)->Unit(benchmark::kMicrosecond);

// Includes the ten noise sequences of 100000 samples each.
void BM_PlantFileBuild(benchmark::State& state) {
  const auto plant = varnok::plantfile::parse_plant_file(ten_by_ten(), "bench.yaml");
  for (auto _ : state) varnok::plantfile::FilePlant built(plant);
}
BENCHMARK(BM_PlantFileBuild)->Unit(benchmark::kMillisecond);

void BM_PlantFilePeriod(benchmark::State& state) {
  varnok::plantfile::FilePlant plant(varnok::plantfile::parse_plant_file(ten_by_ten(), "bench.yaml"));
  std::int64_t count = 0;
  for (auto _ : state) plant.run_task(++count);
}
BENCHMARK(BM_PlantFilePeriod);

}  // namespace
