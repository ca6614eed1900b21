#pragma once

// The addresses and database settings every program and window starts from.
// scripts/services starts the services on these same ports, and both follow
// the same environment variables, so that a user who moves the services
// moves every program with them.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "varnok/errors.h"
#include "varnok/number_text.h"
#include "varnok/private_file.h"

namespace varnok::defaults {

// "localhost" rather than an address: it reaches a server on 127.0.0.1 and
// on ::1 alike.
inline constexpr std::string_view kHost = "localhost";
inline constexpr int kOpcUaPort = 22200;    // opcsim's OPC UA endpoint
inline constexpr int kGatewayPort = 22210;  // opcsim's gateway (gRPC)
inline constexpr int kDatabasePort = 22400;

inline constexpr std::string_view kDatabaseName = "tsdb_simulation";
inline constexpr std::string_view kDatabaseUser = "postgres";
// Good enough on loopback only: scripts/services refuses to open the
// database to other hosts with it.
inline constexpr std::string_view kDatabasePassword = "plok9876";

inline constexpr const char* kHostVariable = "VARNOK_HOST";
inline constexpr const char* kOpcUaPortVariable = "VARNOK_OPCUA_PORT";
inline constexpr const char* kGatewayPortVariable = "VARNOK_GATEWAY_PORT";
inline constexpr const char* kDatabasePortVariable = "VARNOK_DB_PORT";
inline constexpr const char* kDatabasePasswordVariable = "VARNOK_DB_PASSWORD";
inline constexpr const char* kDatabasePasswordFileVariable = "VARNOK_DB_PASSWORD_FILE";

// Where the services are, and the database password they were started
// with: the constants above unless the environment says otherwise. The host
// serves all three, as scripts/services starts them.
struct Addresses {
  std::string host{kHost};
  int opcua_port = kOpcUaPort;
  int gateway_port = kGatewayPort;
  int db_port = kDatabasePort;
  std::string db_password{kDatabasePassword};
};

namespace detail {

inline int port_from_environment(const char* variable, int fallback) {
  const char* text = std::getenv(variable);
  if (text == nullptr || *text == '\0') return fallback;
  const auto port = parse_whole_number(text);
  if (!port || *port < 1 || *port > 65535) {
    throw UsageError(std::string(variable) + ": invalid port \"" + text + "\" (expected 1..65535)");
  }
  return static_cast<int>(*port);
}

inline const char* set_variable(const char* variable) {
  const char* text = std::getenv(variable);
  return text != nullptr && *text != '\0' ? text : nullptr;
}

inline std::string password_from_environment() {
  const char* given = set_variable(kDatabasePasswordVariable);
  const char* file = set_variable(kDatabasePasswordFileVariable);
  if (given != nullptr && file != nullptr) {
    throw UsageError(std::string(kDatabasePasswordVariable) + " and " + kDatabasePasswordFileVariable +
                     " are both set; set only one");
  }
  if (given != nullptr) return given;
  if (file != nullptr) {
    return first_line_of_private_file(file, std::string(kDatabasePasswordFileVariable) + ": " + file,
                                      "the database password");
  }
  return std::string(kDatabasePassword);
}

}  // namespace detail

// Reads VARNOK_HOST, VARNOK_OPCUA_PORT, VARNOK_GATEWAY_PORT, VARNOK_DB_PORT
// and the database password from VARNOK_DB_PASSWORD or the first line of the
// file VARNOK_DB_PASSWORD_FILE names; unset or empty ones keep their
// default. Throws UsageError naming the variable when a port is not
// 1..65535, both password variables are set or the password file is missing,
// empty or open to group or others.
inline Addresses addresses() {
  Addresses out;
  if (const char* host = detail::set_variable(kHostVariable)) out.host = host;
  out.opcua_port = detail::port_from_environment(kOpcUaPortVariable, kOpcUaPort);
  out.gateway_port = detail::port_from_environment(kGatewayPortVariable, kGatewayPort);
  out.db_port = detail::port_from_environment(kDatabasePortVariable, kDatabasePort);
  out.db_password = detail::password_from_environment();
  return out;
}

inline std::string opcua_endpoint(std::string_view host, int port) {
  return "opc.tcp://" + std::string(host) + ":" + std::to_string(port);
}

inline std::string opcua_endpoint(const Addresses& where) {
  return opcua_endpoint(where.host, where.opcua_port);
}

}  // namespace varnok::defaults
