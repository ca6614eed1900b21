// Any bytes given as a plant file: the reader either accepts them or throws
// PlantFileError with a position in the text; nothing else may escape, and
// an accepted file must describe a plant MIMOSim's input checks can judge.

#include <cstddef>
#include <cstdint>
#include <string>

#include "varnok/plantfile/plant_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const auto plant = varnok::plantfile::parse_plant_file(text, "fuzz.yaml");
    if (plant.outputs.empty() || plant.inputs.empty()) __builtin_trap();
    const auto description = varnok::plantfile::plant_description(plant);
    if (description.size() != plant.outputs.size()) __builtin_trap();
  } catch (const varnok::plantfile::PlantFileError& e) {
    if (e.line() < 0 || e.column() < 0 || std::string(e.what()).find('\n') != std::string::npos)
      __builtin_trap();
  }
  return 0;
}
