#include "launcher_startup.h"

#include <QMessageBox>

#include "app_icon.h"
#include "orvane_simulator_widget.h"
#include "tsdb_settings.h"

namespace varnok::velmora {

namespace {

constexpr int kExitUnavailable = 1;

void show_gateway_error(const QIcon& icon, const ModalExec& exec_modal) {
  QMessageBox box;
  box.setIcon(QMessageBox::Critical);
  box.setText(QStringLiteral("Cannot connect to OrvaneOPCSim / 无法连接到 OrvaneOPCSim 服务"));
  box.setInformativeText(QStringLiteral(
      "Please ensure OrvaneOPCSim is running and reachable.\n请确保 OrvaneOPCSim 服务正在运行并且可访问。"));
  box.setWindowTitle(QStringLiteral("Connection Error / 连接错误"));
  box.setWindowIcon(icon);
  exec_modal(box);
}

bool continue_without_database(const QIcon& icon, const ModalExec& exec_modal) {
  QMessageBox box;
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(QStringLiteral("Connection Warning / 连接警告"));
  box.setText(QStringLiteral("Cannot connect to TSDB simulation / 无法连接到 TSDB 仿真专用数据库"));
  box.setInformativeText(
      QStringLiteral("Continue without database? Simulation data will NOT be saved.\n"
                     "是否在没有数据库的情况下继续运行？仿真数据将不会被保存。"));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setWindowIcon(icon);
  return exec_modal(box) != QMessageBox::No;
}

}  // namespace

StartupOptions StartupOptions::at(const defaults::Addresses& where) {
  StartupOptions options;
  options.probes = ProbeSettings::at(where);
  const QString host = QString::fromStdString(where.host);
  options.window.grpc_server_ip = host;
  options.window.grpc_server_port = where.gateway_port;
  options.window.opc_ua_server_ip = host;
  options.window.opc_ua_server_port = where.opcua_port;
  options.window.viewer_tsdb_settings = tessaly::default_tsdb_settings(where);
  return options;
}

int run_launcher(QApplication& app, const StartupOptions& options) {
  const QIcon icon = application_icon();
  if (!check_opcgate_connection(options.probes)) {
    show_gateway_error(icon, options.window.exec_modal);
    return kExitUnavailable;
  }
  if (!check_db_connection(options.probes) && !continue_without_database(icon, options.window.exec_modal)) {
    return kExitUnavailable;
  }
  QApplication::setWindowIcon(icon);
  OrvaneSimulatorWidget window(options.window);
  window.show();
  return app.exec();
}

}  // namespace varnok::velmora
