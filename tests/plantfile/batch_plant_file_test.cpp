#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bad_plant_files.h"
#include "program_run.h"

namespace {

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::filesystem::path write_file(const std::string& name, const std::string& text) {
  const auto path =
      std::filesystem::temp_directory_path() / ("varnok_plantfile_" + std::to_string(::getpid()) + name);
  std::ofstream(path) << text;
  return path;
}

Outcome run_batch(const std::string& args) {
  const auto err_file = write_file("_stderr", "");
  const auto run = varnok::testing::run_command(std::string(VARNOK_BATCH_PROGRAM) + " " + args + " 2>" +
                                                err_file.string());
  Outcome outcome{run.exit_code, run.out, {}};
  std::ifstream in(err_file);
  outcome.err.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(err_file);
  return outcome;
}

TEST(BatchPlantFile, RunsAFileAndPrintsItsTags) {
  const auto file = write_file("_good.yaml", R"(
name: lag
inputs: {U: {initial: 0}}
outputs: {Y: {initial: 1, paths: {U: {gain: 2, dead_time: 1.5}}}}
)");
  const auto outcome = run_batch(file.string() + " --steps 3 --set U=1@1 --tags U,Y");
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "period,U,Y\n1,1.0,1.0\n2,1.0,3.0\n3,1.0,3.0\n");
  std::filesystem::remove(file);
}

TEST(BatchPlantFile, ABadFileIsOneLineAndExitTwo) {
  const auto file =
      write_file("_bad.yaml", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, gian: 1}\n");
  const auto outcome = run_batch(file.string());
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_EQ(outcome.err, "varnok-batch: " + file.string() +
                             ":4:19: unknown key \"gian\" (expected one of: initial, "
                             "unit, description, low, high, noise, paths)\n");
  EXPECT_EQ(outcome.out, "");
  std::filesystem::remove(file);
}

TEST(BatchPlantFile, EveryBadFileIsOneLineAndExitTwo) {
  for (const auto& bad : varnok::plantfile::bad_plant_files()) {
    SCOPED_TRACE(bad.what);
    const auto file = write_file("_case.yaml", bad.text);
    const auto outcome = run_batch(file.string());
    EXPECT_EQ(outcome.exit_code, 2);
    const std::string where =
        file.string() + ":" + std::to_string(bad.line) + ":" + std::to_string(bad.column);
    EXPECT_EQ(outcome.err.rfind("varnok-batch: " + where + ": ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(bad.says), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    std::filesystem::remove(file);
  }
}

TEST(BatchPlantFile, AFileTakesNoObject) {
  const auto file =
      write_file("_noobj.yaml", "name: x\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n");
  EXPECT_EQ(run_batch(file.string() + " Fractor").exit_code, 2);
  EXPECT_EQ(run_batch("varnok.SISO").exit_code, 2);
  EXPECT_EQ(run_batch("/nonexistent/plant.yaml").exit_code, 2);
  std::filesystem::remove(file);
}

}  // namespace
