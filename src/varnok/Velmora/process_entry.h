#pragma once

#include <string>

namespace varnok::velmora {

// One selectable process. Built-in entries have empty yaml_file and
// import_dir; entries from a descriptor carry its absolute path and folder.
struct ProcessEntry {
  std::string yaml_file;
  std::string import_dir;
  std::string module_name;
  std::string object_name;
  std::string default_group;
  std::string description;

  friend bool operator==(const ProcessEntry&, const ProcessEntry&) = default;
};

}  // namespace varnok::velmora
