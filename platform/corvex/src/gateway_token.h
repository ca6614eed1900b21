#pragma once

// The token a gateway client sends when opcsim was started with a gateway
// token file: every call then carries `authorization: Bearer <token>`.

#include <optional>
#include <string>

namespace corvex {

inline constexpr const char* kGatewayTokenFileVariable = "VARNOK_GATEWAY_TOKEN_FILE";

// The token of the file VARNOK_GATEWAY_TOKEN_FILE names: its first line
// without surrounding blanks; nullopt when the variable is unset or empty.
// Throws GatewayError (kInvalid) naming the variable and the file when the
// file is missing, not a regular file, open to group or others, or holds no
// token of printable ASCII.
std::optional<std::string> gateway_token_from_environment();

}  // namespace corvex
