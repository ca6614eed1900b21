#pragma once

// The command-line options that point a program or window at services other
// than the defaults; they override what the environment said.

#include <CLI/CLI.hpp>

#include "varnok/cli.h"
#include "varnok/defaults.h"

namespace varnok::cli {

enum Service : unsigned { kOpcUa = 1U, kGateway = 2U, kDatabase = 4U };

// Adds --host and, for each service in `services`, its port option
// (--opcua-port, --gateway-port, --db-port), each writing into `where`.
inline void add_address_options(CLI::App& app, defaults::Addresses& where, unsigned services) {
  app.add_option("--host", where.host, "host of the services (VARNOK_HOST)")->capture_default_str();
  const auto port = [&](const char* name, int& value, const char* what) {
    app.add_option(name, value, what)->transform(whole_number(1, 65535))->capture_default_str();
  };
  if (services & kOpcUa) port("--opcua-port", where.opcua_port, "OPC UA port of opcsim (VARNOK_OPCUA_PORT)");
  if (services & kGateway)
    port("--gateway-port", where.gateway_port, "gateway port of opcsim (VARNOK_GATEWAY_PORT)");
  if (services & kDatabase) port("--db-port", where.db_port, "PostgreSQL port (VARNOK_DB_PORT)");
}

}  // namespace varnok::cli
