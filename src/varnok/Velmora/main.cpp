// The launcher: checks that the simulation OPC server and database answer,
// then lets the user pick a process, run it on the gateway and watch its tag
// group. The services' addresses come from VARNOK_HOST, VARNOK_OPCUA_PORT,
// VARNOK_GATEWAY_PORT and VARNOK_DB_PORT, or the options of the same names.

#include <QApplication>
#include <QGuiApplication>

#include "launcher_startup.h"
#include "varnok/address_options.h"

int main(int argc, char** argv) {
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report("Velmora", e);
  }
  CLI::App cli{"The launcher: runs a process on the simulation server and shows its tags."};
  varnok::cli::add_address_options(cli, where,
                                   varnok::cli::kOpcUa | varnok::cli::kGateway | varnok::cli::kDatabase);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(cli, e, "Velmora");
  }
  return varnok::velmora::run_launcher(app, varnok::velmora::StartupOptions::at(where));
}
