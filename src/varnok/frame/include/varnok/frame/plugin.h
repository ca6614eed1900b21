#pragma once

// The plug-in boundary. A plant-model plug-in exports one C entry point,
// varnok_plugin_info(), returning a PluginInfo that starts with the ABI
// version. Each create() builds a new Module, and with it fresh module
// objects, so every load gets objects of its own.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "corvex/ordered_map.h"
#include "corvex/simulink.h"
#include "corvex/task.h"

namespace varnok::frame {

// Raised whenever a class a plug-in derives from or links against changes
// its layout: 2 since plants find their tags by place.
inline constexpr std::uint32_t kPluginAbiVersion = 2;
inline constexpr const char* kPluginEntryName = "varnok_plugin_info";

// What a module hands out by name: a simulation, or a ready-made task.
using ExportedObject = std::variant<std::shared_ptr<corvex::Simulink>, std::shared_ptr<corvex::Task>>;

class Module {
 public:
  virtual ~Module() = default;
  const corvex::OrderedMap<ExportedObject>& objects() const noexcept { return objects_; }

 protected:
  void export_object(const std::string& name, ExportedObject object) {
    objects_.set(name, std::move(object));
  }

 private:
  corvex::OrderedMap<ExportedObject> objects_;
};

// A module exporting one simulation of type Sim under a fixed name.
template <typename Sim>
class SimulationModule final : public Module {
 public:
  explicit SimulationModule(const std::string& object_name) {
    export_object(object_name, std::static_pointer_cast<corvex::Simulink>(std::make_shared<Sim>()));
  }
};

struct PluginInfo {
  std::uint32_t abi_version;
  const char* module_name;
  Module* (*create)();  // may throw; the loader reports it
  void (*destroy)(Module*);
};

}  // namespace varnok::frame

extern "C" const varnok::frame::PluginInfo* varnok_plugin_info();

// Defines the entry point of a plug-in whose module exports one simulation.
#define VARNOK_SIMULATION_MODULE(module_name_text, object_name_text, SimType)                               \
  extern "C" __attribute__((visibility("default"))) const varnok::frame::PluginInfo* varnok_plugin_info() { \
    static const varnok::frame::PluginInfo info{                                                            \
        varnok::frame::kPluginAbiVersion, module_name_text,                                                 \
        []() -> varnok::frame::Module* {                                                                    \
          return new varnok::frame::SimulationModule<SimType>(object_name_text);                            \
        },                                                                                                  \
        [](varnok::frame::Module* m) { delete m; }};                                                        \
    return &info;                                                                                           \
  }
