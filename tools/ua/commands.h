#pragma once

// varnok-ua's three commands on one source of a HubletLibrary. Each returns
// the exit code, prints its results on standard output and throws
// varnok::UsageError (bad input: exit 2) or varnok::RunError (the server
// cannot be reached or refuses: exit 1) with a one-line message.

#include <string>
#include <vector>

#include "hublet/hublet.h"

namespace varnok::ua {

// One line per child: node id, display name, node class, data type,
// readable (yes/no), separated by tabs. `node` is one node id, or NS and a
// NAME whose decimal digits name a numeric identifier.
int browse(hublet::HubletLibrary& hub, int source, const std::vector<std::string>& node);

// One line per node with a value: node id, value, and the status when it is
// not Good. A node without a value costs a line on standard error. Exit 1
// when any status is bad or a value cannot be shown.
int read(hublet::HubletLibrary& hub, int source, const std::vector<std::string>& node_ids);

int write(hublet::HubletLibrary& hub, int source, const std::string& node_id, const std::string& value);

}  // namespace varnok::ua
