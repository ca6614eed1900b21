#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "corvex/simulink_opc_gate_task.h"
#include "corvex/task.h"
#include "corvex/value.h"

namespace opcgatepy {

// A ready-made task: serves a tag set on the gateway under one group and runs
// a user calculation on it once per period, without a plant of its own.
//
// Each period: the group's values written from outside are read into the
// mapping, calculation(mapping, period) runs (period = 1, 2, ...), and the
// tags it changed are published. The gateway side (pacing, outages, stop) is
// SimulinkOPCGateTask's; a calculation that throws costs one line on
// standard output and the period still counts.
//
// With Options::periods = N > 0, run() returns by itself at the start of
// period N + 1 (that period's calculation does not run); with 0 it runs until
// stop(). stop() and get_done_count() are safe from any thread.
class OPCCalcTask final : public corvex::Task {
 public:
  using Calculation = std::function<void(corvex::ValueMap& tags, std::int64_t period)>;

  struct Options {
    double sampling_time = 1.0;  // seconds between periods, > 0
    std::int64_t periods = 0;    // 0: until stop()
    corvex::SimulinkOPCGateTask::Options gate{};
  };

  // Throws std::invalid_argument for an empty tag set, no calculation, a
  // negative period count, and whatever SimulinkOPCGateTask refuses (empty
  // group or host, port outside 1..65535, bad sampling time or speed).
  OPCCalcTask(std::string server_address, int port, std::string group_tag, corvex::ValueMap tags,
              Calculation calculation);
  OPCCalcTask(std::string server_address, int port, std::string group_tag, corvex::ValueMap tags,
              Calculation calculation, Options options);
  ~OPCCalcTask() override;

  OPCCalcTask(const OPCCalcTask&) = delete;
  OPCCalcTask& operator=(const OPCCalcTask&) = delete;

  void run() override;
  void stop() override;
  // Periods whose calculation has run.
  std::int64_t get_done_count() const override { return done_count_.load(); }

  const std::string& group_tag() const noexcept { return gate_->group_tag(); }
  const std::string& server_address() const noexcept { return gate_->server_address(); }
  int port() const noexcept { return gate_->port(); }

 private:
  class Calculator;

  std::atomic<std::int64_t> done_count_{0};
  std::shared_ptr<Calculator> calculator_;
  std::unique_ptr<corvex::SimulinkOPCGateTask> gate_;
};

}  // namespace opcgatepy
