#pragma once

// The start-up probes: is the simulation OPC server (its OPC UA port and the
// gateway's RPC port) listening, and does the simulation database answer?

#include <chrono>
#include <string>
#include <vector>

#include "tsdbpy/conn.h"
#include "varnok/defaults.h"

namespace varnok::velmora {

// What the probes try: by default the services at the default addresses;
// the launcher passes the addresses it was given, tests throw-away servers.
struct ProbeSettings {
  std::string host{defaults::kHost};
  std::vector<int> opc_ports = {defaults::kOpcUaPort, defaults::kGatewayPort};  // OPC UA, then the gateway
  std::chrono::milliseconds port_timeout{2000};
  tsdbpy::conn::Settings database = default_database_settings();

  static tsdbpy::conn::Settings default_database_settings(const defaults::Addresses& where = {});
  static ProbeSettings at(const defaults::Addresses& where);
};

// True when a TCP connection over IPv4 to (host, port) succeeds within
// timeout; nothing is sent. Refused, timed out, unresolvable: false, quietly.
// Throws std::invalid_argument for a port outside 0..65535 or a time-out
// that is not positive. Name resolution is bounded by the resolver's own
// time-outs; the connection attempts share what is left of `timeout`.
bool check_port_open(const std::string& host, int port,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

// Probes the OPC ports in order and stops at the first closed one, writing
// "OrvaneOPCSim is not reachable on <host>:<port>"; when all are open writes
// "OrvaneOPCSim is reachable.".
bool check_opcgate_connection(const ProbeSettings& settings = {});

// Opens and closes one database connection. A failure writes
// "Database connection error: " and the client's message.
bool check_db_connection(const ProbeSettings& settings = {});

}  // namespace varnok::velmora
