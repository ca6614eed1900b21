#pragma once

// Where a server keeps its groups: one folder per group directly under
// Objects, in the groups' namespace (opcsim: ns=2;s=<group>, holding
// ns=2;s=<group>.<tag>). Whether a folder holds plant tags shows only when
// it is browsed: one without readable variables is no group, or not yet.

#include <string>
#include <vector>

#include "hublet/hublet.h"

namespace varnok::tessaly {

// The Objects folder, i=85 in namespace 0, as browse_source takes it.
inline constexpr int kObjectsNamespace = 0;
inline constexpr const char* kObjectsNodeName = "85";

// The folders among the children of Objects that may be groups: objects in
// `namespace_index`, in the server's order.
std::vector<hublet::NodeRecord> group_folders(const std::vector<hublet::NodeRecord>& objects,
                                              int namespace_index);

}  // namespace varnok::tessaly
