#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bad_experiment_files.h"
#include "batch_run.h"
#include "varnok/experiment/experiment_file.h"
#include "varnok/number_text.h"

namespace varnok::batch {
namespace {

namespace fs = std::filesystem;

fs::path write_file(const std::string& name, const std::string& text) {
  const auto path = fs::temp_directory_path() / ("varnok_experiment_" + std::to_string(::getpid()) + name);
  std::ofstream(path) << text;
  return path;
}

BatchOptions plant(const std::string& module, const std::string& object, const fs::path& experiment = {}) {
  BatchOptions options;
  options.module = module;
  options.object = object;
  options.experiment = experiment;
  return options;
}

std::string csv_of(const BatchOptions& options) {
  std::ostringstream out;
  run_batch(options, out);
  return out.str();
}

std::vector<std::vector<std::string>> rows_of(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string cell; std::getline(fields, cell, ',');) rows.back().push_back(cell);
  }
  return rows;
}

// The --set options an experiment stands for, worked out from a plain run of
// the plant: v0 is the last value this list wrote to the tag, else the plain
// run's value after the period before the action.
class SetList {
 public:
  SetList(BatchOptions plain, std::int64_t periods) {
    plain.steps = periods;
    const auto rows = rows_of(csv_of(plain));
    for (std::size_t k = 1; k < rows.size(); ++k) {
      for (std::size_t i = 1; i < rows[0].size(); ++i)
        plain_[rows[0][i]].push_back(*parse_number(rows[k][i]));
    }
  }

  void set(std::int64_t at, const std::string& tag, double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    // As a user would type it.
    writes.push_back(parse_scheduled_write(tag + "=" + std::string(text, end) + "@" + std::to_string(at)));
  }
  void step(std::int64_t at, const std::string& tag, double delta) { set(at, tag, v0(tag, at) + delta); }
  void ramp(std::int64_t at, const std::string& tag, double to, std::int64_t n) {
    const double from = v0(tag, at);
    for (std::int64_t i = 1; i < n; ++i)
      set(at + i - 1, tag, from + (to - from) * static_cast<double>(i) / static_cast<double>(n));
    set(at + n - 1, tag, to);
  }
  // Every block written, changed or not: writing the value in force changes nothing.
  void prbs(std::int64_t at, const std::string& tag, double amplitude, std::int64_t hold, std::int64_t n,
            std::uint64_t seed) {
    const double from = v0(tag, at);
    std::mt19937_64 draws(seed);
    for (std::int64_t k = 0; k < n; k += hold)
      set(at + k, tag, (draws() >> 63) ? from + amplitude : from - amplitude);
    set(at + n, tag, from);
  }

  std::vector<ScheduledWrite> writes;

 private:
  // Actions are listed in period order, so the last write to a tag is the one in force.
  double v0(const std::string& tag, std::int64_t at) const {
    for (auto w = writes.rbegin(); w != writes.rend(); ++w) {
      if (w->tag == tag) return w->value;
    }
    return plain_.at(tag).at(static_cast<std::size_t>(at - 2));
  }

  std::map<std::string, std::vector<double>> plain_;  // tag -> value after each period
};

struct Equivalent {
  const char* what;
  std::string module;
  std::string object;
  std::string experiment;
  void (*expand)(SetList&);
};

TEST(ExperimentBatch, EveryActionGivesTheSameCsvAsItsSetOptions) {
  const std::vector<Equivalent> cases = {
      {"SISO", "varnok.SISO", "TrainingSISO",
       R"(periods: 90
record: [MV1, CV1, OPEN_CV1, PID_CV1, SP1, DV1]
actions:
  - {at: 40, prbs: {tag: MV1, amplitude: 1.5, min_hold: 4, periods: 24, seed: 11}}
  - {at: 5, step: {MV1: 2.5, DV1: -1}}
  - {at: 10, set: {MV1: 30}}
  - {at: 12, ramp: {tag: SP1, to: 35.3, periods: 7}}
  - {at: 70, step: {MV1: 0.1}}
  - {at: 75, set: {SET_DV1_RANDOM: 1}}
)",
       [](SetList& x) {
         x.step(5, "MV1", 2.5);
         x.step(5, "DV1", -1);
         x.set(10, "MV1", 30);
         x.ramp(12, "SP1", 35.3, 7);
         x.prbs(40, "MV1", 1.5, 4, 24, 11);
         x.step(70, "MV1", 0.1);
         x.set(75, "SET_DV1_RANDOM", 1);
       }},
      {"plant file", VARNOK_EXAMPLE_PLANTS "/heat_exchanger.yaml", "",
       R"(periods: 200
record: [MV1, DV1, DV2, CV1, CV2, SET_DV_RANDOM]
actions:
  - {at: 150, set: {SET_DV_RANDOM: 0, DV2: 11}}
  - {at: 20, ramp: {tag: MV1, to: 52.5, periods: 30}}
  - {at: 60, prbs: {tag: DV2, amplitude: 0.8, min_hold: 5, periods: 50, seed: 3}}
  - {at: 120, step: {MV1: -4.2}}
)",
       [](SetList& x) {
         x.ramp(20, "MV1", 52.5, 30);
         x.prbs(60, "DV2", 0.8, 5, 50, 3);
         x.step(120, "MV1", -4.2);
         x.set(150, "SET_DV_RANDOM", 0);
         x.set(150, "DV2", 11);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto file = write_file("_same.yaml", c.experiment);
    const auto planned = experiment::read_experiment_file(file);
    BatchOptions by_options = plant(c.module, c.object);
    SetList list(by_options, planned.periods);
    c.expand(list);
    by_options.steps = planned.periods;
    by_options.writes = list.writes;
    for (const auto& tag : planned.record) by_options.tags.push_back(tag.name);
    EXPECT_EQ(csv_of(plant(c.module, c.object, file)), csv_of(by_options));
    fs::remove(file);
  }
}

TEST(ExperimentBatch, HandsBackWhatItPrinted) {
  const auto file = write_file("_kept.yaml",
                               "periods: 30\nrecord: [MV1, CV1]\nactions:\n"
                               "  - {at: 3, ramp: {tag: MV1, to: 40, periods: 5}}\n");
  std::ostringstream out;
  const Results results = run_batch_with_results(plant("varnok.SISO", "TrainingSISO", file), out);
  const auto rows = rows_of(out.str());
  ASSERT_EQ(results.tags, (std::vector<std::string>{"MV1", "CV1"}));
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(results.values[i].size() + 1, rows.size());
    for (std::size_t k = 0; k < 30; ++k) EXPECT_EQ(results.values[i][k], *parse_number(rows[k + 1][i + 1]));
  }
  ASSERT_EQ(results.marks.size(), 1u);
  EXPECT_EQ(results.marks[0].to, 7);
  fs::remove(file);
}

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

Outcome run_program(const std::string& args) {
  const auto err_file = write_file("_stderr", "");
  const std::string command = std::string(VARNOK_BATCH_PROGRAM) + " " + args + " 2>" + err_file.string();
  Outcome outcome;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (std::size_t n = 0; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.out.append(buffer, n);
  const int status = pclose(pipe);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  outcome.err.assign(std::istreambuf_iterator<char>(in), {});
  fs::remove(err_file);
  return outcome;
}

void expect_refused(const Outcome& outcome, const std::string& start) {
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_EQ(outcome.err.rfind("varnok-batch: " + start, 0), 0u) << outcome.err;
  EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

TEST(ExperimentProgram, ABadFileIsOneLineWithItsPositionAndExitTwo) {
  for (const auto& bad : experiment::bad_experiment_files()) {
    SCOPED_TRACE(bad.what);
    const auto file = write_file("_bad.yaml", bad.text);
    expect_refused(run_program("varnok.SISO TrainingSISO --experiment " + file.string()),
                   file.string() + ":" + std::to_string(bad.line) + ":" + std::to_string(bad.column) + ": ");
    fs::remove(file);
  }
}

TEST(ExperimentProgram, ATagThePlantLacksIsRefusedWhereTheFileNamesIt) {
  struct Case {
    std::string plant;
    std::string text;
    const char* where;
    std::string says;
  };
  const std::string hx = VARNOK_EXAMPLE_PLANTS "/heat_exchanger.yaml";
  for (const auto& c :
       std::vector<Case>{{"varnok.SISO TrainingSISO", "periods: 5\nrecord: [MV1, CV9]\n",
                          ":2:15: ", "tag \"CV9\" is not a tag of TrainingSISO"},
                         // The first in the file, though the record is checked first.
                         {"varnok.SISO TrainingSISO",
                          "periods: 5\nactions:\n  - {at: 2, step: {MV1: 1, MV7: 1}}\nrecord: [CV9]\n",
                          ":3:28: ", "\"MV7\""},
                         {hx, experiment::kHead + "  - {at: 2, ramp: {tag: SP1, to: 1, periods: 2}}\n",
                          ":4:25: ", "tag \"SP1\" is not a tag of " + hx}}) {
    SCOPED_TRACE(c.text);
    const auto file = write_file("_tags.yaml", c.text);
    const auto outcome = run_program(c.plant + " --experiment " + file.string());
    expect_refused(outcome, file.string() + c.where);
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    fs::remove(file);
  }
}

TEST(ExperimentProgram, TakesNoStepsWritesOrTagsBesideTheFile) {
  const auto file = write_file("_alone.yaml", "periods: 5\nrecord: [MV1]\n");
  for (const char* other : {"--steps 5", "--set MV1=1@1", "--tags MV1"}) {
    const auto outcome = run_program("varnok.SISO TrainingSISO --experiment " + file.string() + " " + other);
    expect_refused(outcome, "--experiment and " + std::string(other).substr(0, std::string(other).find(' ')));
  }
  fs::remove(file);
}

}  // namespace
}  // namespace varnok::batch
