// varnok-ua run as a program against awkward_server.js: node ids of every
// identifier type from browse back to read and write, exact integers,
// escaped text, and the server's own status on every failure.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "awkward_fixture.h"
#include "program_run.h"

namespace hublet {
namespace {

using testing::awkward_server;
using testing::ProgramRun;

ProgramRun ua(int port, std::vector<std::string> args) {
  args.insert(args.begin(), {VARNOK_UA_PROGRAM, "--timeout", "5000", awkward_server().endpoint(port)});
  return testing::run_program(std::move(args));
}

ProgramRun ua(std::vector<std::string> args) {
  return ua(awkward_server().port, std::move(args));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class VarnokUaAwkward : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { awkward_server(); }
};

TEST_F(VarnokUaAwkward, EveryBrowsedNodeIdReadsBackAsTheSameNode) {
  const ProgramRun browse = ua({"browse", "ns=1;s=Ids"});
  ASSERT_EQ(browse.exit_code, 0) << browse.err;
  EXPECT_EQ(browse.out,
            "ns=1;s=12345\tDigitString\tVariable\tDouble\tyes\n"
            "ns=1;i=12345\tDigitNumber\tVariable\tDouble\tyes\n"
            "ns=1;g=72962b91-fa75-4ae6-8d28-b404dc7daf63\tGuid\tVariable\tDouble\tyes\n"
            "ns=1;b=AP8QOz0=\tOpaque\tVariable\tDouble\tyes\n"
            "ns=1;s=a;b=c\tPunctuated\tVariable\tDouble\tyes\n"
            "ns=1;s=tab\\there\tTab\\tand\\nnew line\tVariable\tDouble\tyes\n"
            "ns=1;s=C:\\\\dir\tBackslashed\tVariable\tDouble\tyes\n");
  std::vector<std::string> ids;
  for (const auto& line : lines(browse.out)) ids.push_back(line.substr(0, line.find('\t')));
  const ProgramRun read = ua([&] {
    std::vector<std::string> args{"read"};
    args.insert(args.end(), ids.begin(), ids.end());
    return args;
  }());
  ASSERT_EQ(read.exit_code, 0) << read.err;
  const std::vector<std::string> values = {"1.25", "2.5", "3.75", "4.5", "5.5", "6.5", "7.5"};
  std::string expected;
  for (std::size_t i = 0; i < ids.size(); ++i) expected += ids[i] + "\t" + values[i] + "\n";
  EXPECT_EQ(read.out, expected);
}

struct Case {
  std::vector<std::string> args;
  int exit_code;
  std::string out;
  std::string err;
};

void expect_runs(const std::vector<Case>& cases, int port = awkward_server().port) {
  for (const Case& c : cases) {
    std::string what;
    for (const auto& a : c.args) what += a + " ";
    SCOPED_TRACE(what);
    const ProgramRun r = ua(port, c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(VarnokUaAwkward, ReadPrintsExactValuesOneLineEachAndTheStatusWhenNotGood) {
  expect_runs({
      {{"read", "1:12345", "ns=1;i=12345"}, 0, "ns=1;s=12345\t1.25\nns=1;i=12345\t2.5\n", ""},
      {{"read", "ns=1;s=Values.UInt64Max", "ns=1;s=Values.Int64Min", "ns=1;s=Values.Int64Max"},
       0,
       "ns=1;s=Values.UInt64Max\t18446744073709551615\n"
       "ns=1;s=Values.Int64Min\t-9223372036854775808\n"
       "ns=1;s=Values.Int64Max\t9223372036854775807\n",
       ""},
      {{"read", "ns=1;s=Values.When", "ns=1;s=Values.Text"},
       0,
       "ns=1;s=Values.When\t2026-12-09T15:04:06.123Z\n"
       "ns=1;s=Values.Text\ttab\\there\\nnew line\\r\\x07bell\\\\back\n",
       ""},
      {{"read", "ns=1;s=Values.Doubtful"},
       0,
       "ns=1;s=Values.Doubtful\t12.5\tUncertainLastUsableValue (0x40900000)\n",
       ""},
      {{"read", "ns=1;s=Values.Stale", "ns=1;s=Values.Fixed"},
       1,
       "ns=1;s=Values.Stale\t31.5\tBadNoCommunication (0x80310000)\nns=1;s=Values.Fixed\t8.5\n",
       ""},
      {{"read", "ns=1;s=Values.Array", "ns=1;s=Values.Empty", "ns=1;s=Nowhere"},
       1,
       "",
       "varnok-ua: ns=1;s=Values.Array: an array of 3 Double, which varnok-ua does not show\n"
       "varnok-ua: ns=1;s=Values.Empty: no value\n"
       "varnok-ua: read of ns=1;s=Nowhere failed: BadNodeIdUnknown (0x80340000)\n"},
      {{"read", "ns=1;g=72962b91"},
       2,
       "",
       "varnok-ua: bad node id \"ns=1;g=72962b91\": a GUID identifier is 8-4-4-4-12 hexadecimal digits\n"},
      {{"read", "ns=1;s=a\\qb"},
       2,
       "",
       "varnok-ua: bad node id \"ns=1;s=a\\\\qb\": \\q is not an escape (write \\\\ for a backslash)\n"},
      {{"browse", "ns=1;s=Nowhere"},
       1,
       "",
       "varnok-ua: browse of ns=1;s=Nowhere failed: BadNodeIdUnknown (0x80340000)\n"},
  });
}

TEST_F(VarnokUaAwkward, WriteTakesExactValuesAndSaysWhyItCannot) {
  const std::string count = "ns=1;s=Cli.Count";
  expect_runs({
      {{"write", "ns=1;s=Cli.Int64", "9007199254740993"}, 0, "", ""},
      {{"read", "ns=1;s=Cli.Int64"}, 0, "ns=1;s=Cli.Int64\t9007199254740993\n", ""},
      {{"write", "ns=1;s=Cli.Int64", "-9223372036854775808"}, 0, "", ""},
      {{"read", "ns=1;s=Cli.Int64"}, 0, "ns=1;s=Cli.Int64\t-9223372036854775808\n", ""},
      {{"write", "ns=1;s=Cli.UInt64", "18446744073709551615"}, 0, "", ""},
      {{"read", "ns=1;s=Cli.UInt64"}, 0, "ns=1;s=Cli.UInt64\t18446744073709551615\n", ""},
      {{"write", "ns=1;s=24680", "99.5"}, 0, "", ""},
      {{"read", "ns=1;s=24680", "ns=1;i=24680"}, 0, "ns=1;s=24680\t99.5\nns=1;i=24680\t20.5\n", ""},
      {{"write", "ns=1;s=Cli.Text", "a\\tb\\\\c d"}, 0, "", ""},
      {{"read", "ns=1;s=Cli.Text"}, 0, "ns=1;s=Cli.Text\ta\\tb\\\\c d\n", ""},
      {{"write", "ns=1;s=Cli.Flag", "False"}, 0, "", ""},
      {{"read", "ns=1;s=Cli.Flag"}, 0, "ns=1;s=Cli.Flag\tFalse\n", ""},
      {{"write", count, "-12"}, 0, "", ""},
      {{"write", count, "3000000000"},
       2,
       "",
       "varnok-ua: value 3000000000 does not fit ns=1;s=Cli.Count, a node of type Int32 (it takes whole "
       "numbers from -2147483648 to 2147483647)\n"},
      {{"write", count, "2.5"},
       2,
       "",
       "varnok-ua: value 2.5 does not fit ns=1;s=Cli.Count, a node of type Int32 (it takes whole numbers "
       "from -2147483648 to 2147483647)\n"},
      {{"write", count, "many"},
       2,
       "",
       "varnok-ua: value many does not fit ns=1;s=Cli.Count, a node of type Int32 (it takes whole numbers "
       "from -2147483648 to 2147483647)\n"},
      {{"read", count}, 0, "ns=1;s=Cli.Count\t-12\n", ""},
      {{"write", "ns=1;s=Cli.UInt64", "-1"},
       2,
       "",
       "varnok-ua: value -1 does not fit ns=1;s=Cli.UInt64, a node of type UInt64 (it takes whole numbers "
       "from 0 to 18446744073709551615)\n"},
      {{"write", "ns=1;s=Values.When", "1"},
       2,
       "",
       "varnok-ua: cannot write to ns=1;s=Values.When, a node of type DateTime (varnok-ua writes numbers, "
       "True/False and text)\n"},
      {{"write", "ns=1;s=Values.Fixed", "1"},
       1,
       "",
       "varnok-ua: write to ns=1;s=Values.Fixed failed: BadNotWritable (0x803B0000)\n"},
      {{"write", "ns=1;s=Nowhere", "1"},
       1,
       "",
       "varnok-ua: write to ns=1;s=Nowhere failed: BadNodeIdUnknown (0x80340000)\n"},
      {{"write", count, "1\\"},
       2,
       "",
       "varnok-ua: bad VALUE \"1\\\\\": a lone \\ at the end (write \\\\ for a backslash)\n"},
  });
}

TEST_F(VarnokUaAwkward, ServersThatRefuseTheSessionAreNamedByTheirStatus) {
  expect_runs({{{"read", "ns=1;s=Values.Fixed"},
                1,
                "",
                "varnok-ua: read failed: BadSecurityModeRejected (0x80540000)\n"}},
              awkward_server().secure_port);
  expect_runs({{{"write", "ns=1;s=Values.Fixed", "1"},
                1,
                "",
                "varnok-ua: write to ns=1;s=Values.Fixed failed: BadIdentityTokenInvalid (0x80200000)\n"}},
              awkward_server().no_anonymous_port);
}

}  // namespace
}  // namespace hublet
