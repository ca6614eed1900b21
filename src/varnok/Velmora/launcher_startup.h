#pragma once

#include <QApplication>

#include "connectivity.h"
#include "window_options.h"

namespace varnok::velmora {

struct StartupOptions {
  ProbeSettings probes;
  WindowOptions window;

  // The probes, the window, its viewer and its recorder all on `where`.
  static StartupOptions at(const defaults::Addresses& where);
};

// Everything main() does once the application object exists: the icon, the
// gate on the OPC server (closed: critical box, exit code 1, no window), the
// gate on the database (down: the user may go on without it; No gives exit
// code 1), then the main window and the event loop, whose code is returned.
// The boxes go through options.window.exec_modal.
int run_launcher(QApplication& app, const StartupOptions& options);

}  // namespace varnok::velmora
