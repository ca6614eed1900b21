#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "varnok/frame/loader.h"
#include "varnok/frame/plugin.h"

namespace varnok::velmora {

// The launcher's module search path and its imports. A process folder goes
// to the front of the path the first time it is used and stays for the life
// of the importer; an empty folder text stands for the working directory.
class ProcessImporter {
 public:
  // plugin_search_path: where the built-in modules live (the program's own
  // plug-in folder by default).
  explicit ProcessImporter(std::vector<std::filesystem::path> plugin_search_path = {
                               frame::ModuleLoader::program_plugin_root()});

  // Loads module_name afresh (new module objects on every call) and returns
  // its object named object_name. Throws ModuleNotFound, PluginError or
  // ObjectNotFound (varnok/frame/errors.h) with a message naming the item.
  frame::ExportedObject dynamic_import_object(const std::string& directory, const std::string& module_name,
                                              const std::string& object_name);

  const std::vector<std::filesystem::path>& search_path() const noexcept { return loader_.search_path(); }

 private:
  frame::ModuleLoader loader_;
};

}  // namespace varnok::velmora
