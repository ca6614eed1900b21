#pragma once

// Where the launcher learns of processes: the built-in plants and the
// "info.yaml" descriptors found below the working directory.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "process_entry.h"

namespace varnok::velmora {

// The six built-in plants, in catalogue order.
std::vector<ProcessEntry> builtin_processes();

// Walks the tree under `directory` depth-first, each folder before its
// subfolders, siblings in the order the file system lists them; symbolic
// links to folders are not followed and folders that cannot be listed are
// skipped. Returns folder / target_file for every visited folder named
// exactly target_folder that holds a file target_file.
std::vector<std::string> find_file_in_folder(const std::string& directory, const std::string& target_folder,
                                             const std::string& target_file);

// The module name a descriptor's `file` stands for: the text without one
// trailing ".py" or ".so". A plant file's name stays as written.
std::string module_name_of_file(const std::string& file);

// Reads one descriptor into an entry. Keys `file`, `object`, `defaultGroup`
// and `description` are optional (empty text when absent or null); scalars
// are taken as their text. Returns the reason instead when the file cannot
// be read, is not YAML, is not a mapping, or has a list or mapping for one
// of those keys.
std::variant<ProcessEntry, std::string> read_process_descriptor(const std::filesystem::path& yaml_file);

// Every descriptor under `directory` (in walk order) that reads cleanly,
// those naming a plant file completed from it (complete_plant_file_entry);
// each descriptor skipped and each plant file unread costs one line on
// `report`.
std::vector<ProcessEntry> descriptor_processes(const std::filesystem::path& directory, std::ostream& report);

}  // namespace varnok::velmora
