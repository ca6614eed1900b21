#include "varnok/frame/serve.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "varnok/cli.h"

namespace varnok::frame {

namespace {

sigset_t stop_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// Waits for SIGINT or SIGTERM on its own thread and stops the task: no work
// inside a signal handler. The signals must be blocked in every thread (see
// block_stop_signals).
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
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  std::atomic<bool> released_{false};
  std::thread waiter_;
};

}  // namespace

void block_stop_signals() {
  const sigset_t signals = stop_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void add_serve_options(CLI::App& app, ServeOptions& options, const defaults::Addresses& where,
                       const std::string& group) {
  options.host = where.host;
  options.port = where.gateway_port;
  options.group = group;
  app.add_option("--port", options.port, "gateway port of opcsim, not the OPC UA port (VARNOK_GATEWAY_PORT)")
      ->capture_default_str()
      ->transform(cli::whole_number(1, 65535));
  app.add_option("--group", options.group, "tag group: 1 to 64 characters, no '.', no spaces")
      ->capture_default_str();
  app.add_option("--host", options.host, "machine that runs opcsim (VARNOK_HOST)")->capture_default_str();
  app.add_option("--speed", options.speed, "periods per second of real time")
      ->capture_default_str()
      ->transform(cli::positive_number());
}

void serve(std::shared_ptr<corvex::Simulink> simulation, const ServeOptions& options,
           const std::string& what) {
  corvex::SimulinkOPCGateTask task(options.host, options.port, std::move(simulation), options.group,
                                   {.speed = options.speed});
  StopOnSignal stop_on_signal(task);
  std::cout << "Serving " << what << " as group " << options.group << " on gateway " << options.host << ':'
            << options.port << std::endl;
  task.run();
}

}  // namespace varnok::frame
