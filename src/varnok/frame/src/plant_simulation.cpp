#include "varnok/frame/plant_simulation.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace varnok::frame {

PlantSimulation::PlantSimulation(corvex::ValueMap data, SettingRules settings, Options options)
    : Simulink(std::move(data), options),
      settings_(std::move(settings), get_data(), SettingGuard::Maps::kInitial),
      tag_count_(get_data().size()) {}

void PlantSimulation::task() {
  if (get_data().size() < tag_count_)
    throw std::logic_error("the live map holds " + std::to_string(get_data().size()) +
                           " tags, fewer than the " + std::to_string(tag_count_) + " it started with");
  settings_.admit(get_data(), get_task_count());
  step();
  settings_.note(get_data());
}

}  // namespace varnok::frame
