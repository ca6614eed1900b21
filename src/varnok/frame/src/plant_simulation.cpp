#include "varnok/frame/plant_simulation.h"

#include <utility>

namespace varnok::frame {

PlantSimulation::PlantSimulation(corvex::ValueMap data, SettingRules settings, Options options)
    : Simulink(std::move(data), options), settings_(std::move(settings), get_data()) {}

void PlantSimulation::task() {
  settings_.admit(get_data(), get_task_count());
  step();
  settings_.note(get_data());
}

}  // namespace varnok::frame
