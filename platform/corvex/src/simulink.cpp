#include "corvex/simulink.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace corvex {

Simulink::Simulink(ValueMap data) : Simulink(std::move(data), Options{}) {}

Simulink::Simulink(ValueMap data, Options options)
    : data_(std::move(data)), sampling_time_(options.sampling_time) {
  if (!(sampling_time_ > 0.0) || !std::isfinite(sampling_time_))
    throw std::invalid_argument("Simulink: sampling_time must be finite and > 0, got " +
                                to_text(sampling_time_));
}

void Simulink::run_task(std::int64_t task_count) {
  task_count_ = task_count;
  task();
}

}  // namespace corvex
