#include "varnok/frame/loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "varnok/frame/errors.h"

namespace varnok::frame {

namespace fs = std::filesystem;

struct LoadedModule::Library {
  void* handle = nullptr;
  ~Library() {
    if (handle != nullptr) dlclose(handle);
  }
};

namespace {

// Holds an exported object together with the library its code lives in;
// members are destroyed in reverse order, so the object goes first.
template <typename T>
struct Pinned {
  std::shared_ptr<LoadedModule::Library> library;
  std::shared_ptr<T> object;
};

template <typename T>
std::shared_ptr<T> pin(const std::shared_ptr<LoadedModule::Library>& library,
                       const std::shared_ptr<T>& object) {
  if (!object) return object;
  auto holder = std::make_shared<Pinned<T>>(Pinned<T>{library, object});
  return std::shared_ptr<T>(holder, holder->object.get());
}

std::string dl_message() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

}  // namespace

bool is_valid_module_name(std::string_view name) {
  if (name.empty()) return false;
  bool at_start = true;
  for (char c : name) {
    if (c == '.') {
      if (at_start) return false;
      at_start = true;
      continue;
    }
    const auto uc = static_cast<unsigned char>(c);
    if (!(std::isalnum(uc) || c == '_')) return false;
    if (at_start && std::isdigit(uc)) return false;
    at_start = false;
  }
  return !at_start;
}

LoadedModule::LoadedModule(std::shared_ptr<Library> library, fs::path file)
    : library_(std::move(library)), file_(std::move(file)) {
  void* symbol = dlsym(library_->handle, kPluginEntryName);
  if (symbol == nullptr) {
    throw PluginError(file_.string() + ": no entry point " + kPluginEntryName + " (" + dl_message() + ")");
  }
  auto entry = reinterpret_cast<const PluginInfo* (*)()>(symbol);
  const PluginInfo* info = entry();
  if (info == nullptr) throw PluginError(file_.string() + ": entry point returned no plug-in description");
  // Only the version field is read before it is known to match.
  if (info->abi_version != kPluginAbiVersion) {
    throw PluginError(file_.string() + ": plug-in ABI version " + std::to_string(info->abi_version) +
                      ", this program needs version " + std::to_string(kPluginAbiVersion));
  }
  if (info->create == nullptr || info->destroy == nullptr) {
    throw PluginError(file_.string() + ": plug-in description without create/destroy");
  }
  Module* raw = nullptr;
  try {
    raw = info->create();
  } catch (const std::exception& e) {
    throw PluginError(file_.string() + ": building the module failed: " + e.what());
  }
  if (raw == nullptr) throw PluginError(file_.string() + ": building the module returned nothing");
  module_ = std::shared_ptr<Module>(raw, info->destroy);
}

LoadedModule::~LoadedModule() = default;

std::vector<std::string> LoadedModule::object_names() const {
  return module_->objects().keys();
}

bool LoadedModule::has_object(std::string_view name) const {
  return module_->objects().contains(name);
}

ExportedObject LoadedModule::get_object(std::string_view name) const {
  const ExportedObject* found = module_->objects().find(name);
  if (found == nullptr) {
    throw ObjectNotFound("module " + file_.string() + " has no object \"" + std::string(name) + "\"");
  }
  return std::visit([this](const auto& object) -> ExportedObject { return pin(library_, object); }, *found);
}

ModuleLoader::ModuleLoader(std::vector<fs::path> search_path) : search_path_(std::move(search_path)) {}

void ModuleLoader::add_search_dir(const fs::path& dir) {
  if (std::find(search_path_.begin(), search_path_.end(), dir) != search_path_.end()) return;
  search_path_.insert(search_path_.begin(), dir);
}

fs::path ModuleLoader::find(std::string_view module_name) const {
  if (!is_valid_module_name(module_name)) return {};
  fs::path relative;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = module_name.find('.', start);
    const std::string_view part =
        module_name.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (dot == std::string_view::npos) {
      relative /= std::string(part) + ".so";
      break;
    }
    relative /= std::string(part);
    start = dot + 1;
  }
  for (const auto& dir : search_path_) {
    std::error_code ec;
    const fs::path candidate = dir / relative;
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

std::shared_ptr<LoadedModule> ModuleLoader::load(std::string_view module_name) const {
  if (!is_valid_module_name(module_name)) {
    throw ModuleNotFound("\"" + std::string(module_name) +
                         "\" is not a module name (names like varnok.SISO)");
  }
  const fs::path file = find(module_name);
  if (file.empty()) {
    std::string where;
    for (const auto& dir : search_path_) where += (where.empty() ? "" : ", ") + dir.string();
    throw ModuleNotFound("no module named \"" + std::string(module_name) +
                         "\" (searched: " + (where.empty() ? "nothing" : where) + ")");
  }
  auto library = std::make_shared<LoadedModule::Library>();
  dlerror();
  library->handle = dlopen(fs::absolute(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library->handle == nullptr) throw PluginError(file.string() + ": cannot be loaded: " + dl_message());
  return std::make_shared<LoadedModule>(std::move(library), file);
}

fs::path ModuleLoader::program_plugin_root() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path() / ".." / "lib").lexically_normal();
}

}  // namespace varnok::frame
