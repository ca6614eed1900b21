#pragma once

#include <cstddef>

#include "corvex/simulink.h"
#include "varnok/frame/setting_guard.h"
#include "varnok/frame/settings.h"

namespace varnok::frame {

// The base of the suite's plant models. A plant declares its settings (see
// settings.h) and writes its period as step(); task() admits what clients
// wrote, refusing values the plant cannot use, so no setting can stop the
// plant. The live map keeps every tag at its place for the simulation's
// life (the gateway exchanges values by place too), so the guard and the
// plants find their tags once, at construction, and never by name again.
class PlantSimulation : public corvex::Simulink {
 public:
  // Admits the settings, runs step(), then takes what the period left in
  // the map as the values in force.
  void task() final;

  const SettingGuard& settings() const noexcept { return settings_; }

 protected:
  // Throws std::invalid_argument when the settings do not fit the tag set
  // (see SettingGuard).
  PlantSimulation(corvex::ValueMap data, SettingRules settings, Options options = {});

  // One period of the plant, on settings it can use.
  virtual void step() = 0;

  // The live map's value at a place the plant found at construction. Not
  // checked here: task() makes sure the map still holds every tag it
  // started with.
  corvex::Value& at(std::size_t place) noexcept {
    return get_data().begin()[static_cast<std::ptrdiff_t>(place)].second;
  }

 private:
  SettingGuard settings_;
  std::size_t tag_count_;
};

}  // namespace varnok::frame
