#include "OPCGatePy/opc_calc_task.h"

#include <stdexcept>
#include <utility>

namespace opcgatepy {

// The simulation the gateway task drives: one calculation call per period.
class OPCCalcTask::Calculator final : public corvex::Simulink {
 public:
  Calculator(corvex::ValueMap tags, double sampling_time, Calculation calculation, std::int64_t periods,
             std::atomic<std::int64_t>& done_count)
      : Simulink(std::move(tags), {.sampling_time = sampling_time}),
        calculation_(std::move(calculation)),
        periods_(periods),
        done_count_(done_count) {}

  // Set once, before run(): the gateway task to stop after the last period.
  void set_gate(corvex::SimulinkOPCGateTask* gate) { gate_ = gate; }

  void task() override {
    // Stopping here rather than after the last calculation lets that
    // period's values be published before the gateway task winds down.
    if (periods_ > 0 && get_task_count() > periods_) {
      gate_->stop();
      return;
    }
    try {
      calculation_(get_data(), get_task_count());
    } catch (...) {
      done_count_.fetch_add(1);
      throw;
    }
    done_count_.fetch_add(1);
  }

 private:
  Calculation calculation_;
  std::int64_t periods_;
  std::atomic<std::int64_t>& done_count_;
  corvex::SimulinkOPCGateTask* gate_ = nullptr;
};

OPCCalcTask::OPCCalcTask(std::string server_address, int port, std::string group_tag, corvex::ValueMap tags,
                         Calculation calculation)
    : OPCCalcTask(std::move(server_address), port, std::move(group_tag), std::move(tags),
                  std::move(calculation), Options{}) {}

OPCCalcTask::OPCCalcTask(std::string server_address, int port, std::string group_tag, corvex::ValueMap tags,
                         Calculation calculation, Options options) {
  if (tags.empty()) throw std::invalid_argument("OPCCalcTask: no tags for group \"" + group_tag + "\"");
  if (!calculation) throw std::invalid_argument("OPCCalcTask: no calculation");
  if (options.periods < 0) {
    throw std::invalid_argument("OPCCalcTask: period count " + std::to_string(options.periods) +
                                " is negative");
  }
  calculator_ = std::make_shared<Calculator>(std::move(tags), options.sampling_time, std::move(calculation),
                                             options.periods, done_count_);
  gate_ = std::make_unique<corvex::SimulinkOPCGateTask>(std::move(server_address), port, calculator_,
                                                        std::move(group_tag), options.gate);
  calculator_->set_gate(gate_.get());
}

OPCCalcTask::~OPCCalcTask() = default;

void OPCCalcTask::run() {
  gate_->run();
}

void OPCCalcTask::stop() {
  gate_->stop();
}

}  // namespace opcgatepy
