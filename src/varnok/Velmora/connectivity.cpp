#include "connectivity.h"

#include <sys/socket.h>

#include <iostream>
#include <stdexcept>

#include "netio/tcp_connect.h"
#include "tsdb_settings.h"

namespace varnok::velmora {

namespace {

// The client's message on one line: libpq's texts span several lines.
std::string one_line(const std::string& text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
    if (space) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

tsdbpy::conn::Settings ProbeSettings::default_database_settings(const defaults::Addresses& where) {
  tsdbpy::conn::Settings settings = tessaly::default_tsdb_settings(where);
  settings.emplace_back("connect_timeout", 2.0);
  return settings;
}

ProbeSettings ProbeSettings::at(const defaults::Addresses& where) {
  ProbeSettings settings;
  settings.host = where.host;
  settings.opc_ports = {where.opcua_port, where.gateway_port};
  settings.database = default_database_settings(where);
  return settings;
}

bool check_port_open(const std::string& host, int port, std::chrono::milliseconds timeout) {
  if (port < 0 || port > 65535) {
    throw std::invalid_argument("check_port_open: port " + std::to_string(port) + " is not in 0..65535");
  }
  if (timeout.count() <= 0) {
    throw std::invalid_argument("check_port_open: time-out of " + std::to_string(timeout.count()) +
                                " ms is not positive");
  }
  // IPv4, as the probes always were; nothing is sent.
  return static_cast<bool>(
      netio::connect_host(host, port, std::chrono::steady_clock::now() + timeout, AF_INET).socket);
}

bool check_opcgate_connection(const ProbeSettings& settings) {
  for (const int port : settings.opc_ports) {
    if (!check_port_open(settings.host, port, settings.port_timeout)) {
      std::cout << "OrvaneOPCSim is not reachable on " << settings.host << ':' << port << std::endl;
      return false;
    }
  }
  std::cout << "OrvaneOPCSim is reachable." << std::endl;
  return true;
}

bool check_db_connection(const ProbeSettings& settings) {
  try {
    tsdbpy::conn::Connection connection = tsdbpy::conn::get_conn(settings.database);
    if (!connection) return false;
    connection.close();
    return true;
  } catch (const std::exception& e) {
    std::cout << "Database connection error: " << one_line(e.what()) << std::endl;
    return false;
  }
}

}  // namespace varnok::velmora
