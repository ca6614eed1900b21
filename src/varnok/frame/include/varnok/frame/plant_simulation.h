#pragma once

#include "corvex/simulink.h"
#include "varnok/frame/setting_guard.h"
#include "varnok/frame/settings.h"

namespace varnok::frame {

// The base of the suite's plant models. A plant declares its settings (see
// settings.h) and writes its period as step(); task() admits what clients
// wrote, refusing values the plant cannot use, so no setting can stop the
// plant.
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

 private:
  SettingGuard settings_;
};

}  // namespace varnok::frame
