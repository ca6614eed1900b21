// varnok-record's command line: what it refuses, with exit code 2 and one
// line naming the option, before it reaches for any server.

#include <gtest/gtest.h>

#include <string>

#include "program_run.h"

namespace {

using Outcome = varnok::testing::ProgramRun;

// Standard error is folded into out.
Outcome run_program(const std::string& args) {
  return varnok::testing::run_command(std::string(VARNOK_RECORD_PROGRAM) + " " + args + " 2>&1");
}

TEST(RecordProgram, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
  // An endpoint nobody listens on: a command line taken would fail with 1.
  const std::string dead = "--endpoint opc.tcp://127.0.0.1:1 --no-db ";
  const struct {
    const char* args;
    const char* line;
  } cases[] = {
      {"--all --group S1", "varnok-record: --group excludes --all\n"},
      {"--group S1 --all", "varnok-record: --group excludes --all\n"},
      {"--group S1 --group S2 --group S1", "varnok-record: --group S1 is given twice\n"},
      {"--group ''", "varnok-record: --endpoint and --group must not be empty\n"},
      {"--group S1 --group ''", "varnok-record: --endpoint and --group must not be empty\n"},
      {"--rescan 10", "varnok-record: --rescan needs --all or several --group\n"},
      {"--group S1 --rescan 10", "varnok-record: --rescan needs --all or several --group\n"},
      {"--all --rescan 0", "varnok-record: --rescan: 0 is not in 1..3600\n"},
      {"--all --rescan 1.5", "varnok-record: --rescan: \"1.5\" is not a whole decimal number\n"},
      {"--group S1 S2", "varnok-record: The following argument was not expected: S2\n"},
      {"--keep-days 0", "varnok-record: --keep-days: 0 is not in 1..36525\n"},
      {"--keep-days 7 --no-db", "varnok-record: --keep-days excludes --no-db\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome outcome = run_program(dead + c.args);
    EXPECT_EQ(outcome.exit_code, 2);
    EXPECT_EQ(outcome.out, c.line);
  }
}

TEST(RecordProgram, ACommandLineTakenReachesForTheServer) {
  const std::string dead = "--endpoint opc.tcp://127.0.0.1:1 --no-db ";
  for (const char* args : {"--all --rescan 1", "--group S1 --group S2 --rescan 3600", "--group S1"}) {
    SCOPED_TRACE(args);
    const Outcome outcome = run_program(dead + args);
    EXPECT_EQ(outcome.exit_code, 1) << outcome.out;
    EXPECT_NE(outcome.out.find("创建 source 失败"), std::string::npos) << outcome.out;
  }
}

}  // namespace
