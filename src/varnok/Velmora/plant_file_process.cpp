#include "plant_file_process.h"

#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "process_task.h"
#include "varnok/errors.h"
#include "varnok/plantfile/file_plant.h"
#include "varnok/plantfile/plant_file.h"

namespace varnok::velmora {

namespace {

std::filesystem::path plant_file_path(const std::string& directory, const std::string& file) {
  // Normal form, so that messages name the file without "process/../".
  return (std::filesystem::path(directory) / file).lexically_normal();
}

}  // namespace

void complete_plant_file_entry(ProcessEntry& entry, std::ostream& report) {
  try {
    const plantfile::PlantFile plant =
        plantfile::read_plant_file(plant_file_path(entry.import_dir, entry.module_name));
    entry.object_name = plant.name;
    if (entry.description.empty())
      entry.description = plant.description.empty() ? plant.name : plant.description;
    if (entry.default_group.empty()) entry.default_group = plant.group.value_or(plantfile::kDefaultGroup);
  } catch (const std::exception& e) {  // a listing never fails for one file
    report << "Process descriptor " << entry.yaml_file << ": " << e.what() << std::endl;
    if (entry.description.empty()) entry.description = e.what();
    if (entry.default_group.empty()) entry.default_group = plantfile::kDefaultGroup;
  }
}

std::shared_ptr<corvex::Simulink> plant_from_file(const std::string& directory, const std::string& file) {
  const std::filesystem::path path = plant_file_path(directory, file);
  try {
    return plantfile::build_file_plant(plantfile::read_plant_file(path));
  } catch (const SetupError& e) {
    throw StartFailure(e.what());
  }
}

}  // namespace varnok::velmora
