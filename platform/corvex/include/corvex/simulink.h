#pragma once

#include <cstdint>

#include "corvex/tag_info.h"
#include "corvex/value.h"

namespace corvex {

// Base of every simulation. The framework owns the live value mapping and
// the task counter; a model reads and writes the mapping in place during
// task(). Not thread-safe: one thread drives it, one period at a time.
class Simulink {
 public:
  struct Options {
    double sampling_time = 1.0;  // seconds, > 0
  };

  // data is the tag set with its initial values.
  explicit Simulink(ValueMap data);
  Simulink(ValueMap data, Options options);
  virtual ~Simulink() = default;

  Simulink(const Simulink&) = delete;
  Simulink& operator=(const Simulink&) = delete;

  // The live mapping: before task() it holds the values last written from
  // outside; what task() leaves in it is published.
  ValueMap& get_data() noexcept { return data_; }
  const ValueMap& get_data() const noexcept { return data_; }

  // Periods started so far: 1 during the first task(), 0 before it.
  std::int64_t get_task_count() const noexcept { return task_count_; }
  double get_sampling_time() const noexcept { return sampling_time_; }

  // One period of the model. Failures are thrown to the caller.
  virtual void task() = 0;

  // Descriptions, units and ranges clients may show; none by default.
  virtual TagInfoList tag_info() const { return {}; }

  // Driver side: sets the task counter, then runs task().
  void run_task(std::int64_t task_count);

 private:
  ValueMap data_;
  std::int64_t task_count_ = 0;
  double sampling_time_;
};

}  // namespace corvex
