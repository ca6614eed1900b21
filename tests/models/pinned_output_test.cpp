// Every plant's output, with noise, random disturbances and steps, stays
// what it was when tests/models/golden/ was written (make.sh there): every
// tag at every 100th of 10 000 periods, and each tag's sum and sum of
// squares over all of them, within 1e-12 relative. Faster code must not
// change what a plant does.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "batch_run.h"

namespace {

const std::string kGolden = VARNOK_GOLDEN_DIR;

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, by);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

struct Pinned {
  std::string name;
  std::vector<std::string> args;  // varnok-batch's, as in plants.txt
};

void PrintTo(const Pinned& run, std::ostream* out) {
  *out << run.name;
}

std::vector<Pinned> pinned_runs() {
  std::ifstream in(kGolden + "/plants.txt");
  std::vector<Pinned> runs;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> words = split(line, ' ');
    runs.push_back({words.front(), {words.begin() + 1, words.end()}});
  }
  return runs;
}

varnok::batch::BatchOptions options_of(const std::vector<std::string>& args) {
  varnok::batch::BatchOptions options;
  std::size_t i = 0;
  options.module = args[i++];
  if (i < args.size() && args[i].rfind("--", 0) != 0) options.object = args[i++];
  for (; i + 1 < args.size(); i += 2) {
    if (args[i] == "--steps") options.steps = std::stoll(args[i + 1]);
    if (args[i] == "--set") options.writes.push_back(varnok::batch::parse_scheduled_write(args[i + 1]));
  }
  return options;
}

// Relative, with values near zero compared absolutely.
bool close(double want, double got) {
  if (std::isnan(want) || std::isnan(got)) return std::isnan(want) && std::isnan(got);
  return std::abs(want - got) <= 1e-12 * std::max({std::abs(want), std::abs(got), 1.0});
}

class PinnedOutput : public testing::TestWithParam<Pinned> {};

TEST_P(PinnedOutput, EveryTagAsPinned) {
  const Pinned& run = GetParam();
  std::ifstream golden(kGolden + "/" + run.name + ".csv");
  ASSERT_TRUE(golden) << run.name;
  std::string header;
  std::getline(golden, header);

  varnok::batch::BatchOptions options = options_of(run.args);
  if (options.module.ends_with(".yaml")) options.module = kGolden + "/../../../" + options.module;
  std::ostringstream printed;
  const varnok::batch::Results results = varnok::batch::run_batch_with_results(options, printed);
  EXPECT_EQ(
      "period," +
          [&] {
            std::string tags;
            for (const auto& tag : results.tags) tags += (tags.empty() ? "" : ",") + tag;
            return tags;
          }(),
      header);

  std::vector<double> sums(results.tags.size()), squares(results.tags.size());
  for (std::size_t t = 0; t < results.tags.size(); ++t) {
    for (const double v : results.values[t]) {
      sums[t] += v;
      squares[t] += v * v;
    }
  }
  int compared = 0;
  for (std::string line; std::getline(golden, line);) {
    const std::vector<std::string> cells = split(line, ',');
    ASSERT_EQ(cells.size(), results.tags.size() + 1) << line;
    for (std::size_t t = 0; t < results.tags.size(); ++t) {
      const double want = std::stod(cells[t + 1]);
      double got = 0;
      if (cells[0] == "sum") {
        got = sums[t];
      } else if (cells[0] == "sumsq") {
        got = squares[t];
      } else {
        got = results.values[t][std::stoul(cells[0]) - 1];
      }
      EXPECT_TRUE(close(want, got)) << run.name << " " << results.tags[t] << " at " << cells[0] << ": pinned "
                                    << cells[t + 1] << ", now " << got;
      ++compared;
    }
  }
  EXPECT_EQ(compared, static_cast<int>(results.tags.size()) * 102);
}

INSTANTIATE_TEST_SUITE_P(Plants, PinnedOutput, testing::ValuesIn(pinned_runs()),
                         [](const testing::TestParamInfo<Pinned>& run) { return run.param.name; });

}  // namespace
