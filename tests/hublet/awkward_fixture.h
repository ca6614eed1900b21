#pragma once

// One awkward_server.js for all tests of a program (node-opcua is slow to
// start): its main port, the relays that break connections, and the two
// servers that refuse (no SecurityPolicy None, no anonymous session).

#include <string>

#include "child_process.h"
#include "opcsim_process.h"

namespace hublet::testing {

struct AwkwardServer {
  int port = varnok::testing::free_port();
  int drop_port = varnok::testing::free_port();
  int cut_port = varnok::testing::free_port();
  int secure_port = varnok::testing::free_port();
  int no_anonymous_port = varnok::testing::free_port();
  ChildProcess process{{"node", HUBLET_AWKWARD_SERVER, "--port", std::to_string(port), "--drop-port",
                        std::to_string(drop_port), "--cut-port", std::to_string(cut_port), "--secure-port",
                        std::to_string(secure_port), "--no-anonymous-port", std::to_string(no_anonymous_port),
                        "--min-token-lifetime", "400"},
                       "ready"};
  std::string endpoint(int p) const { return "opc.tcp://localhost:" + std::to_string(p); }
  std::string endpoint() const { return endpoint(port); }
};

inline const AwkwardServer& awkward_server() {
  static const AwkwardServer instance;
  return instance;
}

}  // namespace hublet::testing
