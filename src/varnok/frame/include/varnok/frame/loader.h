#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "varnok/frame/plugin.h"

namespace varnok::frame {

// A loaded plug-in module. Objects fetched from it keep the plug-in's code
// loaded for as long as they live.
class LoadedModule {
 public:
  struct Library;  // the dlopen handle

  LoadedModule(std::shared_ptr<Library> library, std::filesystem::path file);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  const std::filesystem::path& file() const noexcept { return file_; }
  std::vector<std::string> object_names() const;
  bool has_object(std::string_view name) const;
  // Throws ObjectNotFound naming the object and the module file.
  ExportedObject get_object(std::string_view name) const;

 private:
  std::shared_ptr<Library> library_;
  std::filesystem::path file_;
  std::shared_ptr<Module> module_;
};

// Finds plug-ins by dotted module name on an ordered search path:
// "varnok.SISO" is varnok/SISO.so below the first search folder that has it.
class ModuleLoader {
 public:
  ModuleLoader() = default;
  explicit ModuleLoader(std::vector<std::filesystem::path> search_path);

  // Puts dir at the front, unless it is already on the path.
  void add_search_dir(const std::filesystem::path& dir);
  const std::vector<std::filesystem::path>& search_path() const noexcept { return search_path_; }

  // Where the module's file would be found; nullopt-like empty path if none.
  std::filesystem::path find(std::string_view module_name) const;

  // Every call builds a new module with fresh objects. Throws
  // ModuleNotFound (bad name, no file) or PluginError.
  std::shared_ptr<LoadedModule> load(std::string_view module_name) const;

  // The plug-in folder of the running program: <program dir>/../lib.
  static std::filesystem::path program_plugin_root();

 private:
  std::vector<std::filesystem::path> search_path_;
};

// True for names made of identifiers separated by single dots.
bool is_valid_module_name(std::string_view name);

}  // namespace varnok::frame
