// varnok-ua run as a program against opcsim.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "opcsim_fixture.h"

namespace {

using hublet::testing::s1_tags;
using hublet::testing::shared_opcsim;

struct Outcome {
  int exit_code = -1;
  std::string out;  // standard output, or both streams when asked
};

Outcome run(const std::string& args, bool with_stderr = false) {
  const std::string command =
      std::string(VARNOK_UA_PROGRAM) + " " + args + (with_stderr ? " 2>&1" : " 2>/dev/null");
  Outcome r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class VarnokUa : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared_opcsim(); }
  const std::string endpoint = shared_opcsim().endpoint();
};

TEST_F(VarnokUa, BrowsePrintsOneTabSeparatedLinePerChildInOrder) {
  const Outcome r = run(endpoint + " browse 2 S1");
  ASSERT_EQ(r.exit_code, 0);
  std::string expected;
  for (const auto& t : s1_tags())
    expected += "ns=2;s=S1." + t.name + "\t" + t.name + "\tVariable\tDouble\tyes\n";
  EXPECT_EQ(r.out, expected);
  // The parent as a node id gives the same.
  EXPECT_EQ(run(endpoint + " browse 'ns=2;s=S1'").out, expected);
}

TEST_F(VarnokUa, ReadPrintsEachValueInTheViewersTextForm) {
  const Outcome r =
      run(endpoint + " read 2:S1.CV3 2:S1.CV1 2:S1.CV2 2:S1.MV2 2:S1.OPEN_CV1 2:S1.Td 2:S1.FIC101.PV");
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "ns=2;s=S1.CV3\t29.0\nns=2;s=S1.CV1\t1e-07\nns=2;s=S1.CV2\t1e+300\nns=2;s=S1.MV2\t0.1\n"
            "ns=2;s=S1.OPEN_CV1\t1e+16\nns=2;s=S1.Td\t0.0001\nns=2;s=S1.FIC101.PV\t101.5\n");
}

TEST_F(VarnokUa, WriteParsesTheNumberAndTheValueArrives) {
  EXPECT_EQ(run(endpoint + " write 2:W1.C ' 12.5 '").exit_code, 0);
  EXPECT_EQ(run(endpoint + " read 2:W1.C").out, "ns=2;s=W1.C\t12.5\n");
  EXPECT_EQ(run(endpoint + " write 'ns=2;s=W1.C' -4e-3").exit_code, 0);
  EXPECT_EQ(run(endpoint + " read 'ns=2;s=W1.C'").out, "ns=2;s=W1.C\t-0.004\n");
  EXPECT_EQ(run(endpoint + " write 2:W1.C nan").exit_code, 0);
  EXPECT_EQ(run(endpoint + " read 2:W1.C").out, "ns=2;s=W1.C\tnan\n");
}

TEST_F(VarnokUa, FailuresCostOneLineOnStandardErrorAndTheirExitCode) {
  const auto one_line = [](const Outcome& r) {
    return !r.out.empty() && r.out.find('\n') == r.out.size() - 1 && r.out.rfind("varnok-ua: ", 0) == 0;
  };
  Outcome r = run(endpoint + " write 2:W1.C abc", true);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_TRUE(one_line(r)) << r.out;
  r = run(endpoint + " read S1.CV1", true);
  EXPECT_EQ(r.exit_code, 2) << "node id without namespace";
  EXPECT_TRUE(one_line(r)) << r.out;
  r = run("", true);
  EXPECT_EQ(r.exit_code, 2);
  r = run("http://localhost:1 read 2:S1.CV1", true);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_TRUE(one_line(r)) << r.out;
  r = run("opc.tcp://127.0.0.1:" + std::to_string(varnok::testing::free_port()) + " read 2:S1.CV1", true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(one_line(r)) << r.out;
  r = run(endpoint + " browse 2 NoSuchGroup", true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(one_line(r)) << r.out;
  r = run(endpoint + " read 2:S1.Nope", true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(one_line(r)) << r.out;
  EXPECT_EQ(r.out, "varnok-ua: read of ns=2;s=S1.Nope failed: BadNodeIdUnknown (0x80340000)\n");
}

}  // namespace
