// The program form of a plant model: serves the model's object on the
// gateway until SIGINT or SIGTERM. Built once per model with
// VARNOK_OBJECT_NAME and VARNOK_DEFAULT_GROUP defined.

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/frame/plugin.h"

namespace {

sigset_t stop_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// Waits for SIGINT or SIGTERM on its own thread and stops the task: no work
// inside a signal handler. The signals must be blocked in every thread, so
// main blocks them before anything (gRPC included) starts a thread.
class StopOnSignal {
 public:
  explicit StopOnSignal(corvex::Task& task) {
    waiter_ = std::thread([this, &task] {
      const sigset_t signals = stop_signals();
      int signal = 0;
      sigwait(&signals, &signal);
      if (!released_) task.stop();
    });
  }
  ~StopOnSignal() {
    released_ = true;
    pthread_kill(waiter_.native_handle(), SIGTERM);  // blocked: sigwait takes it
    waiter_.join();
  }

 private:
  std::atomic<bool> released_{false};
  std::thread waiter_;
};

}  // namespace

int main(int argc, char** argv) {
  const sigset_t signals = stop_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const std::string program = std::filesystem::path(argv[0]).filename().string();
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }
  int port = where.gateway_port;
  std::string group = VARNOK_DEFAULT_GROUP;
  std::string host = where.host;
  double speed = 1.0;

  // The option texts use the user guide's words.
  CLI::App app{std::string("Serves the plant model ") + VARNOK_OBJECT_NAME +
               " on opcsim's gateway until Ctrl-C or SIGTERM."};
  app.add_option("--port", port, "gateway port of opcsim, not the OPC UA port (VARNOK_GATEWAY_PORT)")
      ->capture_default_str()
      ->transform(varnok::cli::whole_number(1, 65535));
  app.add_option("--group", group, "tag group: 1 to 64 characters, no '.', no spaces")->capture_default_str();
  app.add_option("--host", host, "machine that runs opcsim (VARNOK_HOST)")->capture_default_str();
  app.add_option("--speed", speed, "periods per second of real time")
      ->capture_default_str()
      ->transform(varnok::cli::positive_number());
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, program, varnok::cli::Usage::kPrint);
  }

  try {
    const varnok::frame::PluginInfo* info = varnok_plugin_info();
    const std::unique_ptr<varnok::frame::Module, void (*)(varnok::frame::Module*)> module(info->create(),
                                                                                          info->destroy);
    const auto* object = module->objects().find(VARNOK_OBJECT_NAME);
    const auto* simulation = object ? std::get_if<std::shared_ptr<corvex::Simulink>>(object) : nullptr;
    if (simulation == nullptr)
      throw varnok::SetupError(std::string("no simulation object ") + VARNOK_OBJECT_NAME);
    corvex::SimulinkOPCGateTask task(host, port, *simulation, group, {.speed = speed});
    StopOnSignal stop_on_signal(task);
    std::cout << "Serving " << VARNOK_OBJECT_NAME << " as group " << group << " on gateway " << host << ':'
              << port << std::endl;
    task.run();
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }
  return varnok::kExitOk;
}
