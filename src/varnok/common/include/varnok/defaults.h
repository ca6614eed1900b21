#pragma once

// The addresses and database settings every program and window starts from.
// scripts/services starts the services on these same ports.

#include <string>
#include <string_view>

namespace varnok::defaults {

// "localhost" rather than an address: it reaches a server on 127.0.0.1 and
// on ::1 alike.
inline constexpr std::string_view kHost = "localhost";
inline constexpr int kOpcUaPort = 22200;    // opcsim's OPC UA endpoint
inline constexpr int kGatewayPort = 22210;  // opcsim's gateway (gRPC)
inline constexpr int kDatabasePort = 22400;

inline constexpr std::string_view kDatabaseName = "tsdb_simulation";
inline constexpr std::string_view kDatabaseUser = "postgres";
inline constexpr std::string_view kDatabasePassword = "plok9876";

inline std::string opcua_endpoint(std::string_view host = kHost, int port = kOpcUaPort) {
  return "opc.tcp://" + std::string(host) + ":" + std::to_string(port);
}

}  // namespace varnok::defaults
