// The viewer on its own: the table of one group (T1 unless --group says
// otherwise), recorded into the database. The services' addresses come from
// VARNOK_HOST, VARNOK_OPCUA_PORT and VARNOK_DB_PORT, or the options of the
// same names.

#include <QApplication>

#include "tsdb_settings.h"
#include "ua_table_window.h"
#include "varnok/address_options.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report("Quorra", e);
  }
  std::string group = "T1";
  CLI::App cli{"The viewer: shows one group's tags live, writes values and records them."};
  varnok::cli::add_address_options(cli, where, varnok::cli::kOpcUa | varnok::cli::kDatabase);
  cli.add_option("--group", group, "group (folder ns=2;s=GROUP) to show")->capture_default_str();
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(cli, e, "Quorra");
  }

  varnok::quorra::UATableWindow window;
  window.set_tsdb_settings(varnok::tessaly::default_tsdb_settings(where));
  varnok::quorra::UATableWindow::ViewerSettings settings;
  settings.endpoint = QString::fromStdString(varnok::defaults::opcua_endpoint(where));
  settings.name_space_index = 2;
  settings.identifier = QString::fromStdString(group);
  window.start_opcua(settings);
  window.show();
  return QApplication::exec();
}
