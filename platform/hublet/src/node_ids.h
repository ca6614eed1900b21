#pragma once

// Node ids as hublet's callers give them (namespace index, identifier type,
// identifier text) and as the wire holds them.

#include <string>

#include "hublet/hublet.h"
#include "ua_types.h"

namespace hublet {

// False for a namespace outside 0..65535, an unknown identifier type, or a
// name that is not an identifier of its type (empty, digits beyond UInt32,
// not a GUID, not base64).
bool make_node_id(int ns, int identifier_type, const std::string& name, ua::NodeId& out);

HUBLET_IDTYPE identifier_type_of(const ua::NodeId& id);

}  // namespace hublet
