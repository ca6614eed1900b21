#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "process_catalogue.h"
#include "process_importer.h"
#include "velmora_test_support.h"

namespace varnok::velmora {
namespace {

namespace fs = std::filesystem;
using testing::count_of;
using testing::ScratchDir;

TEST(FindFileInFolder, FindsFoldersNamedExactlyProcessAtAnyDepthWithoutFollowingLinks) {
  ScratchDir tree;
  for (const char* file : {"process/info.yaml", "process/x/process/info.yaml", "a/b/process/info.yaml",
                           "Process/info.yaml", "processes/info.yaml", "a/process/sub/info.yaml",
                           "b/process/INFO.yaml", "elsewhere/process/info.yaml"}) {
    tree.write(file, "");
  }
  fs::create_directories(tree.path() / "c/process/info.yaml");  // a folder, not a file
  fs::create_directory_symlink(tree.path() / "elsewhere", tree.path() / "a/link");

  std::vector<std::string> found;
  for (const auto& p : find_file_in_folder(tree.path().string(), "process", "info.yaml")) {
    found.push_back(fs::path(p).lexically_relative(tree.path()).string());
  }
  const auto at = [&](const std::string& f) {
    return std::find(found.begin(), found.end(), f) - found.begin();
  };
  EXPECT_LT(at("process/info.yaml"), at("process/x/process/info.yaml")) << "a folder before its subfolders";
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"a/b/process/info.yaml", "elsewhere/process/info.yaml",
                                             "process/info.yaml", "process/x/process/info.yaml"}));
  // The working directory itself may be a process folder.
  EXPECT_EQ(find_file_in_folder((tree.path() / "process").string(), "process", "info.yaml").size(), 2u);
}

TEST(ProcessDescriptor, ReadsTextKeysAndRefusesWhatIsNotAMappingOfTexts) {
  ScratchDir dir;
  const auto read = [&](const std::string& text) {
    static int n = 0;
    return read_process_descriptor(dir.write(std::to_string(++n) + "/info.yaml", text));
  };
  const auto full =
      read("file: plant.py\nobject: Plant\ndefaultGroup: P1\ndescription: A plant.\nextra: [1]\n");
  ASSERT_TRUE(std::holds_alternative<ProcessEntry>(full));
  EXPECT_EQ(std::get<ProcessEntry>(full),
            (ProcessEntry{(dir.path() / "1/info.yaml").string(), (dir.path() / "1").string(), "plant",
                          "Plant", "P1", "A plant."}));
  const auto module_of = [&](const std::string& text) {
    return std::get<ProcessEntry>(read(text)).module_name;
  };
  EXPECT_EQ(module_of("file: plant\n"), "plant");
  EXPECT_EQ(module_of("file: tank.so\n"), "tank");
  EXPECT_EQ(module_of("file: a.py.py\n"), "a.py");
  EXPECT_EQ(module_of("file: ~\n"), "");
  EXPECT_EQ(module_of("object: X\n"), "");
  EXPECT_EQ(module_of("file: 42\n"), "42");
  EXPECT_EQ(std::get<ProcessEntry>(read("defaultGroup: 7.50\n")).default_group, "7.50");

  const auto refused = [&](const std::string& text) {
    const auto result = read(text);
    return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "<read>";
  };
  EXPECT_EQ(refused(""), "not a mapping");
  EXPECT_EQ(refused("- a\n- b\n"), "not a mapping");
  EXPECT_EQ(refused("file: [a, b]\n"), "\"file\" is a list or mapping, not text");
  EXPECT_EQ(refused("description: {a: 1}\n"), "\"description\" is a list or mapping, not text");
  EXPECT_EQ(refused("file: [unclosed\n").rfind("not valid YAML", 0), 0u);
}

TEST(DescriptorProcesses, KeepsDuplicatesInWalkOrderAndSkipsBadFilesWithOneLineEach) {
  ScratchDir tree;
  tree.write("one/process/info.yaml", "file: varnok.SISO\nobject: TrainingSISO\n");
  tree.write("two/process/info.yaml", "file: varnok.SISO\nobject: TrainingSISO\n");
  tree.write("three/process/info.yaml", "just text\n");
  std::ostringstream report;
  const auto entries = descriptor_processes(tree.path(), report);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module_name, entries[1].module_name);
  EXPECT_EQ(report.str(), "Skipped process descriptor " + (tree.path() / "three/process/info.yaml").string() +
                              ": not a mapping\n");
}

// What the file itself gives is seen in the runner's plant-file test.
TEST(DescriptorProcesses, APlantFileFillsInWhatItsDescriptorLeavesOutAndABadOneStaysListedWithItsLine) {
  ScratchDir tree;
  const std::string plain = "name: Plain\ninputs: {U: {initial: 1}}\noutputs: {Y: {initial: 0}}\n";
  tree.write("plain.yml", plain);
  tree.write("typo.yaml", "nmae: B\n" + plain);
  const std::string typo_line = (tree.path() / "typo.yaml").string() + ":1:1: unknown key \"nmae\"";
  struct Case {
    std::string descriptor, object, group, description_start;
  };
  const std::vector<Case> cases{
      {"file: ../../plain.yml\nobject: Other\ndefaultGroup: G7\ndescription: Mine\n", "Plain", "G7", "Mine"},
      {"file: ../../plain.yml\n", "Plain", "P1", "Plain"},
      {"file: ../../typo.yaml\nobject: X\n", "X", "P1", typo_line},
  };
  for (std::size_t i = 0; i < cases.size(); ++i)
    tree.write(std::to_string(i) + "/process/info.yaml", cases[i].descriptor);

  std::ostringstream report;
  const auto entries = descriptor_processes(tree.path(), report);
  ASSERT_EQ(entries.size(), cases.size());
  for (const ProcessEntry& entry : entries) {
    const Case& expected = cases.at(std::stoul(fs::path(entry.import_dir).parent_path().filename().string()));
    SCOPED_TRACE(expected.descriptor);
    EXPECT_EQ(entry.module_name, expected.descriptor.substr(6, expected.descriptor.find('\n') - 6));
    EXPECT_EQ(entry.object_name + " | " + entry.default_group, expected.object + " | " + expected.group);
    EXPECT_TRUE(entry.description.starts_with(expected.description_start)) << entry.description;
  }
  EXPECT_TRUE(report.str().starts_with("Process descriptor " +
                                       (tree.path() / "2/process/info.yaml").string() + ": " + typo_line))
      << report.str();
  EXPECT_EQ(count_of(report.str(), "\n"), 1);
}

TEST(ProcessImporterTest, PutsTheProcessFolderFirstOnceAndBuildsAFreshObjectEachTime) {
  ProcessImporter importer;  // the built-in plants in <program dir>/../lib
  const auto first = importer.dynamic_import_object(VELMORA_FIXTURE_DIR, "velmora_fixture", "Counter");
  const auto second = importer.dynamic_import_object(VELMORA_FIXTURE_DIR, "velmora_fixture", "Counter");
  EXPECT_NE(std::get<std::shared_ptr<corvex::Simulink>>(first),
            std::get<std::shared_ptr<corvex::Simulink>>(second));
  importer.dynamic_import_object("", "varnok.SISO", "TrainingSISO");
  EXPECT_EQ(importer.search_path(),
            (std::vector<fs::path>{"", VELMORA_FIXTURE_DIR, frame::ModuleLoader::program_plugin_root()}));
}

}  // namespace
}  // namespace varnok::velmora
