#include "process_catalogue.h"

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <sstream>
#include <system_error>

#include "plant_file_process.h"
#include "varnok/plantfile/plant_file.h"

namespace varnok::velmora {

namespace fs = std::filesystem;

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The subfolders of `dir` in listing order, links to folders left out; an
// unlistable folder has none.
std::vector<fs::path> subfolders(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  const fs::directory_iterator end;
  while (!ec && it != end) {
    std::error_code type_ec;
    if (it->symlink_status(type_ec).type() == fs::file_type::directory) out.push_back(it->path());
    it.increment(ec);
  }
  return out;
}

}  // namespace

std::vector<ProcessEntry> builtin_processes() {
  return {
      {"", "", "varnok.SISO", "TrainingSISO", "T1",
       "This is a simulation of SISO model 3.8/(30s+1)*exp(-17s)"},
      {"", "", "varnok.Fractor", "Fractor", "S1",
       "This is a simulation of shell model with 3MVs, 2DVs and 7CVs."},
      {"", "", "varnok.Calder", "MIMOModel_2x3", "T3",
       "This is a simulation of MIMO model with 2MVs, 1DV and 3CVs."},
      {"", "", "varnok.Brinell", "Brinell", "T2", "This is a simulation of a Integral SISO model."},
      {"", "", "varnok.Farrow", "DV_process", "S7", "This is a simulation for DV prediction models."},
      {"", "", "varnok.Dunmore", "LPV_SISO_process", "LPV1", "This is a simulation for SISO LPV process."},
  };
}

std::vector<std::string> find_file_in_folder(const std::string& directory, const std::string& target_folder,
                                             const std::string& target_file) {
  std::vector<std::string> found;
  // Explicit stack instead of recursion: deep trees cannot exhaust the
  // call stack. Children go on in reverse so they come off in listing order.
  std::string root = directory;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<fs::path> pending{fs::path(root)};
  while (!pending.empty()) {
    const fs::path dir = std::move(pending.back());
    pending.pop_back();
    if (dir.filename() == target_folder) {
      std::error_code ec;
      const fs::path candidate = dir / target_file;
      if (fs::is_regular_file(candidate, ec)) found.push_back(candidate.string());
    }
    std::vector<fs::path> children = subfolders(dir);
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(std::move(*it));
  }
  return found;
}

std::string module_name_of_file(const std::string& file) {
  for (const char* extension : {".py", ".so"}) {
    if (ends_with(file, extension)) return file.substr(0, file.size() - 3);
  }
  return file;
}

std::variant<ProcessEntry, std::string> read_process_descriptor(const fs::path& yaml_file) {
  constexpr std::uintmax_t kMaxDescriptorBytes = 1 << 20;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(yaml_file, ec);
  if (ec) return "cannot be read (" + ec.message() + ")";
  if (size > kMaxDescriptorBytes) return std::string("larger than 1 MiB");
  std::ifstream in(yaml_file, std::ios::binary);
  if (!in) return std::string("cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::string("cannot be read");

  YAML::Node document;
  try {
    document = YAML::Load(text.str());
  } catch (const YAML::Exception& e) {
    return "not valid YAML (" + e.msg + " at line " + std::to_string(e.mark.line + 1) + ")";
  }
  if (!document.IsMap()) return std::string("not a mapping");

  std::string problem;
  const auto text_of = [&](const char* key) -> std::string {
    const YAML::Node value = document[key];
    if (!value || value.IsNull()) return {};
    if (!value.IsScalar()) {
      if (problem.empty()) problem = std::string("\"") + key + "\" is a list or mapping, not text";
      return {};
    }
    return value.Scalar();
  };
  ProcessEntry entry;
  entry.yaml_file = yaml_file.string();
  entry.import_dir = yaml_file.parent_path().string();
  entry.module_name = module_name_of_file(text_of("file"));
  entry.object_name = text_of("object");
  entry.default_group = text_of("defaultGroup");
  entry.description = text_of("description");
  if (!problem.empty()) return problem;
  return entry;
}

std::vector<ProcessEntry> descriptor_processes(const fs::path& directory, std::ostream& report) {
  std::vector<ProcessEntry> entries;
  for (const std::string& file : find_file_in_folder(directory.string(), "process", "info.yaml")) {
    auto result = read_process_descriptor(file);
    if (auto* entry = std::get_if<ProcessEntry>(&result)) {
      if (plantfile::is_plant_file_name(entry->module_name)) complete_plant_file_entry(*entry, report);
      entries.push_back(std::move(*entry));
    } else {
      report << "Skipped process descriptor " << file << ": " << std::get<std::string>(result) << std::endl;
    }
  }
  return entries;
}

}  // namespace varnok::velmora
