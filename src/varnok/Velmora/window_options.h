#pragma once

#include <QString>
#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

#include "modal.h"
#include "tsdbpy/conn.h"
#include "varnok/defaults.h"
#include "varnok/frame/loader.h"

namespace varnok::velmora {

// What a main window starts from. The defaults are the launcher's; tests
// replace them to reach throw-away servers and to answer modals.
struct WindowOptions {
  // gateway RPC endpoint for built tasks
  QString grpc_server_ip = QString::fromUtf8(defaults::kHost.data(), defaults::kHost.size());
  int grpc_server_port = defaults::kGatewayPort;
  // OPC UA server the viewer browses
  QString opc_ua_server_ip = QString::fromUtf8(defaults::kHost.data(), defaults::kHost.size());
  int opc_ua_server_port = defaults::kOpcUaPort;

  ModalExec exec_modal = exec_modal_dialog;
  std::vector<std::filesystem::path> plugin_search_path = {frame::ModuleLoader::program_plugin_root()};

  // The wait for a task's first completed cycle before the viewer starts.
  std::chrono::milliseconds first_cycle_poll{500};
  std::chrono::milliseconds first_cycle_limit{30000};

  // Where the viewer records; none: the viewer's own default.
  std::optional<tsdbpy::conn::Settings> viewer_tsdb_settings;
};

}  // namespace varnok::velmora
