#pragma once

// Serving one simulation on opcsim's gateway until Ctrl-C or SIGTERM: what
// every plant program shares, the built-in ones and varnok-plant.

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "corvex/simulink.h"
#include "varnok/defaults.h"

namespace varnok::frame {

struct ServeOptions {
  std::string host;
  int port = 0;
  std::string group;
  double speed = 1.0;
};

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts
// later: call it first in main, before anything (gRPC included) starts one.
void block_stop_signals();

// Adds --port, --group, --host and --speed in the user guide's words, with
// the defaults of `where`; `group` is what --group shows as its default.
void add_serve_options(CLI::App& app, ServeOptions& options, const defaults::Addresses& where,
                       const std::string& group);

// Serves `simulation` as options.group until a stop signal; `what` names it
// in the line that says so. Throws what the gateway task throws at start.
void serve(std::shared_ptr<corvex::Simulink> simulation, const ServeOptions& options,
           const std::string& what);

}  // namespace varnok::frame
