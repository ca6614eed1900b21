#include "process_importer.h"

namespace varnok::velmora {

ProcessImporter::ProcessImporter(std::vector<std::filesystem::path> plugin_search_path)
    : loader_(std::move(plugin_search_path)) {}

frame::ExportedObject ProcessImporter::dynamic_import_object(const std::string& directory,
                                                             const std::string& module_name,
                                                             const std::string& object_name) {
  loader_.add_search_dir(directory);
  // The loaded module may go once its object is taken: the object keeps the
  // plug-in's code loaded for as long as it lives.
  return loader_.load(module_name)->get_object(object_name);
}

}  // namespace varnok::velmora
