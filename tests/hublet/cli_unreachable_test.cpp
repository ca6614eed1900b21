// varnok-ua run as a program against servers that are not there or are no
// OPC UA servers: one line naming the host, the port and the reason, exit 1.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_peer.h"
#include "program_run.h"

namespace hublet {
namespace {

using testing::FakePeer;

std::string at(int port) {
  return "127.0.0.1:" + std::to_string(port);
}

TEST(VarnokUaUnreachable, TransportFailuresNameHostPortAndReason) {
  const int closed_port = [] {
    FakePeer peer([](int, int) {});
    return peer.port();
  }();
  FakePeer http([](int fd, int stop) {
    FakePeer::receive(fd, stop, 8);
    FakePeer::send(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
  });
  FakePeer silent([](int fd, int stop) { FakePeer::linger(fd, stop); });
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"opc.tcp://" + at(closed_port), "read", "2:S1.CV1"},
       "varnok-ua: read failed: cannot connect to " + at(closed_port) + ": Connection refused\n"},
      {{"opc.tcp://" + at(http.port()), "write", "2:S1.MV1", "1"},
       "varnok-ua: write to ns=2;s=S1.MV1 failed: " + at(http.port()) +
           " is not an OPC UA server: it answered \"HTTP/1.1 400 Bad Request\"\n"},
      {{"--timeout", "300", "opc.tcp://" + at(silent.port()), "browse", "i=85"},
       "varnok-ua: browse of i=85 failed: no answer from " + at(silent.port()) + " within 300 ms\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<std::string> argv{VARNOK_UA_PROGRAM};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const testing::ProgramRun r = testing::run_program(argv);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }

  // The resolver's reason varies with the machine; the name and one line do not.
  const testing::ProgramRun r =
      testing::run_program({VARNOK_UA_PROGRAM, "opc.tcp://nosuch.invalid", "read", "2:A"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.err.starts_with("varnok-ua: read failed: cannot resolve host nosuch.invalid: ")) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

}  // namespace
}  // namespace hublet
