#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "batch_run.h"
#include "model_runner.h"
#include "program_run.h"
#include "varnok/errors.h"

namespace varnok::batch {
namespace {

using Outcome = varnok::testing::ProgramRun;

// Standard error is folded into out.
Outcome run_program(const std::string& args) {
  return varnok::testing::run_command(std::string(VARNOK_BATCH_PROGRAM) + " " + args + " 2>&1");
}

std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, ',')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

TEST(BatchProgram, MvStepFollowsTheFirstOrderResponse) {
  const auto outcome =
      run_program("varnok.SISO TrainingSISO --steps 60 --set MV1=30@1 --tags CV1,OPEN_CV1,PID_CV1");
  ASSERT_EQ(outcome.exit_code, 0) << outcome.out;
  const auto rows = parse_csv(outcome.out);
  ASSERT_EQ(rows.size(), 61u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"period", "CV1", "OPEN_CV1", "PID_CV1"}));
  for (int k = 1; k <= 60; ++k) {
    const auto& row = rows[static_cast<std::size_t>(k)];
    ASSERT_EQ(row.size(), 4u);
    EXPECT_EQ(row[0], std::to_string(k));
    EXPECT_NEAR(std::stod(row[1]), 31.0 + testing::fopdt_step(3.8, 30, 17, k), 1e-9) << k;
    EXPECT_EQ(row[2], "31.0");
    EXPECT_EQ(row[3], "31.0");
  }
}

TEST(BatchProgram, PrintsEveryTagByDefaultAndValuesReadBackExactly) {
  const auto outcome = run_program("varnok.SISO TrainingSISO --steps 3 --set SET_CV1_STD=0.7@1");
  ASSERT_EQ(outcome.exit_code, 0) << outcome.out;
  const auto rows = parse_csv(outcome.out);
  ASSERT_EQ(rows.size(), 4u);
  ASSERT_EQ(rows[0].size(), 31u);
  EXPECT_EQ(rows[0][1], "MV1");
  EXPECT_EQ(rows[3][22], "3");  // RunCount stays an integer
  EXPECT_NE(rows[3][2], "31.0");
}

TEST(BatchProgram, EveryBuiltInModelRunsAThousandPeriods) {
  for (const char* model :
       {"varnok.SISO TrainingSISO", "varnok.Brinell Brinell", "varnok.Calder MIMOModel_2x3",
        "varnok.Fractor Fractor", "varnok.Dunmore LPV_SISO_process", "varnok.Farrow DV_process"}) {
    const auto outcome = run_program(std::string(model) + " --steps 1000 --tags RunCount");
    ASSERT_EQ(outcome.exit_code, 0) << model << ": " << outcome.out.substr(0, 400);
    const auto rows = parse_csv(outcome.out);
    ASSERT_EQ(rows.size(), 1001u) << model;
    EXPECT_EQ(rows.back(), (std::vector<std::string>{"1000", "1000"})) << model;
  }
}

TEST(BatchProgram, BadInputExitsWithTwoAndOneLine) {
  for (const char* args :
       {"varnok.Nope TrainingSISO", "varnok.SISO NoObject", "varnok.SISO TrainingSISO --tags XX",
        "varnok.SISO TrainingSISO --set MV1=abc@1", "varnok.SISO TrainingSISO --set MV1=1@0",
        "varnok.SISO TrainingSISO --set NOPE=1@1", "varnok.SISO TrainingSISO --steps 5 --set MV1=1@6",
        "varnok.SISO TrainingSISO --steps x", "varnok.SISO TrainingSISO --steps 0x10",
        "varnok.SISO TrainingSISO --set MV1=0x10@1", "varnok.SISO"}) {
    const auto outcome = run_program(args);
    EXPECT_EQ(outcome.exit_code, 2) << args << ": " << outcome.out;
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 1) << args << ": " << outcome.out;
  }
}

TEST(BatchProgram, RefusedSettingIsOneLineOnStandardErrorAndTheRunGoesOn) {
  const std::string errors = ::testing::TempDir() + "batch_refusal_stderr.txt";
  const std::string command = std::string(VARNOK_BATCH_PROGRAM) +
                              " varnok.SISO TrainingSISO --steps 12 --set MV1_LO=200@5 2>" + errors;
  const auto run = varnok::testing::run_command(command);
  EXPECT_EQ(run.exit_code, 0);
  const std::string& csv = run.out;

  const auto rows = parse_csv(csv);
  ASSERT_EQ(rows.size(), 13u) << csv;
  const auto low = std::find(rows[0].begin(), rows[0].end(), "MV1_LO") - rows[0].begin();
  for (std::size_t k = 1; k <= 12; ++k) {
    EXPECT_EQ(rows[k][0], std::to_string(k));
    EXPECT_EQ(rows[k][static_cast<std::size_t>(low)], "0.0") << k;  // the limit in force, also in period 5
  }

  std::ifstream file(errors);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "MV1_LO = 200.0 refused in period 5: above MV1_HI (100.0); 0.0 stays in force\n");
  std::remove(errors.c_str());
}

TEST(ScheduledWrite, ParsesTagValueAndPeriod) {
  const auto w = parse_scheduled_write("DV1=-2.5e1@17");
  EXPECT_EQ(w.tag, "DV1");
  EXPECT_EQ(w.value, -25.0);
  EXPECT_EQ(w.period, 17);
  EXPECT_TRUE(std::isnan(parse_scheduled_write("MV1=nan@1").value));
  EXPECT_THROW(parse_scheduled_write("=1@1"), UsageError);
  EXPECT_THROW(parse_scheduled_write("MV1@1=2"), UsageError);
  EXPECT_THROW(parse_scheduled_write("MV1=1@1.5"), UsageError);
}

}  // namespace
}  // namespace varnok::batch
