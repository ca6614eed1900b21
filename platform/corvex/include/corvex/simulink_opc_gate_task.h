#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "corvex/simulink.h"
#include "corvex/task.h"

namespace corvex {

class GatewayClient;

// Serves a simulation's tags on the gateway under one tag group and runs its
// task() once per period.
//
// Each period k (starting at t0 + k·Ts/speed, drift-free; a late period is
// not made up by a burst): read the group's values into the live mapping,
// run task() with the task count one higher, publish only the tags whose
// value task() changed, count the period done. A task() that throws costs
// one line on standard output; the period still counts.
//
// When the gateway is unreachable or forgets the group (restart), the task
// keeps the plant's state, says so once, retries, registers the group again
// with the current values and goes on. No period runs meanwhile.
//
// run() blocks until stop(); it throws GatewayError when the gateway refuses
// the group itself as invalid (a bad name or tag set). stop() and
// get_done_count() are safe from any thread; stop() ends run() within one
// period plus one call's time-out.
class SimulinkOPCGateTask final : public Task {
 public:
  struct Options {
    double speed = 1.0;                              // periods run this much faster than real time
    std::chrono::milliseconds call_timeout{2000};    // every gateway call
    std::chrono::milliseconds retry_interval{1000};  // between attempts while the gateway is away
    std::chrono::milliseconds lease{0};              // 0: five periods, at least 5 s
  };

  // server_address: host name or address of the gateway; port: its RPC
  // port. Throws std::invalid_argument for a null simulator, an empty group,
  // a port outside 1..65535 or a speed that is not a positive number.
  SimulinkOPCGateTask(std::string server_address, int port, std::shared_ptr<Simulink> Simulator,
                      std::string group_tag);
  SimulinkOPCGateTask(std::string server_address, int port, std::shared_ptr<Simulink> Simulator,
                      std::string group_tag, Options options);
  ~SimulinkOPCGateTask() override;

  void run() override;
  void stop() override;
  std::int64_t get_done_count() const override { return done_count_.load(); }
  // Set while the gateway refuses the group or cannot be reached; cleared
  // once the group is registered.
  Waiting waiting() const override;

  const std::string& group_tag() const noexcept { return group_tag_; }
  const std::string& server_address() const noexcept { return server_address_; }
  int port() const noexcept { return port_; }

 private:
  bool wait_until(std::chrono::steady_clock::time_point deadline);  // false when stopped
  bool ensure_registered(bool& reported_outage);
  void run_period();
  void set_waiting(Waiting waiting);

  std::string server_address_;
  int port_;
  std::shared_ptr<Simulink> simulator_;
  std::string group_tag_;
  Options options_;
  std::unique_ptr<GatewayClient> client_;
  std::string session_;
  // Registering again after a lost session keeps what clients wrote meanwhile.
  bool registered_before_ = false;
  // Per-period buffers, kept to spare the allocations.
  std::vector<double> read_values_;
  std::vector<Value> before_;
  std::vector<std::uint32_t> changed_places_;
  std::vector<double> changed_values_;

  std::atomic<bool> stop_requested_{false};
  std::atomic<std::int64_t> done_count_{0};
  mutable std::mutex waiting_mutex_;
  Waiting waiting_;
  std::mutex wake_mutex_;
  std::condition_variable wake_;
};

}  // namespace corvex
