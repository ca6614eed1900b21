#pragma once

// The words the viewer shows for what the server or the client library
// said: why a write failed, why a value is not live. Each text is built in
// one function here.

#include <cstdint>
#include <string>

#include "hublet/hublet.h"

namespace varnok::tessaly {

using hublet::is_bad_status;

// Why a write did not happen: the server's own status when it refused the
// item ("BadTypeMismatch (0x80740000)"), else the client library's.
std::string write_failure_reason(const hublet::WriteResult& result);
// The same for a write call that failed as a whole.
std::string write_failure_reason(int hublet_status);

// Why a poll brought no values, from the client library's status.
std::string poll_failure_reason(int hublet_status);

// A value's OPC UA status: "BadNoCommunication (0x80310000)".
std::string value_status_text(std::uint32_t status_code);

}  // namespace varnok::tessaly
