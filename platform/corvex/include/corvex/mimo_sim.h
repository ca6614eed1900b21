#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "corvex/plant_description.h"
#include "corvex/value.h"

namespace corvex {

// Multi-input multi-output plant made of independent transfer-function
// paths, one per (CV, input) pair of a description.
//
// Equations: each path is realised in state space and discretised exactly
// for inputs held over a period (zero-order hold), fractional dead times
// included. The plant starts in steady state at the initial values and works
// in deviations from them:
//   y_cv = y0_cv + sum over inputs of path(u_in − u0_in) + v_cv
// Timing: run() holds the inputs it reads for one period and returns the
// outputs at the end of that period. If an input steps by du before call c,
// call k >= c returns y0 + du·s((k − c + 1)·Ts), s the continuous unit step
// response of the path (0 for t <= dead time).
//
// A non-finite input is replaced by the last finite value of that input (one
// line through corvex::report when that starts), so it cannot corrupt the state.
// The output noise v is added to the returned values only.
class MIMOSim {
 public:
  struct Options {
    double Ts = 1.0;  // period, seconds, > 0
  };

  // Leading zeros of a path's coefficients are ignored. Throws
  // std::invalid_argument naming the CV, input and value for an unsupported
  // mode (only "tf_s" exists), a non-finite coefficient, an empty or all-zero
  // denominator, an improper path, a negative or non-finite dead time or one
  // of more than 1e6 periods, Ts <= 0, or a CV or input without a finite
  // initial value.
  MIMOSim(const PlantDescription& description, const ValueMap& initial_values, Options options);
  MIMOSim(const PlantDescription& description, const ValueMap& initial_values, double Ts = 1.0);
  ~MIMOSim();
  MIMOSim(MIMOSim&&) noexcept;
  MIMOSim& operator=(MIMOSim&&) noexcept;

  // Advances one period. Reads every input of the description from
  // u_Value_Dict (MissingKey if one is absent; the state is then left as it
  // was) and returns every CV, in description order, as a double plus
  // v_Value_Dict's value for that CV when present.
  ValueMap run(const ValueMap& u_Value_Dict, const ValueMap& v_Value_Dict = {});

  // The same period without tag names: u holds the inputs in input_tags()
  // order, y receives the outputs in output_tags() order, each plus v[k]
  // when v is not empty. Throws std::invalid_argument when a size differs.
  void run(std::span<const double> u, std::span<double> y, std::span<const double> v = {});

  // Where a map keeps this plant's inputs and outputs. A tag keeps its place
  // in a map, so for a simulation's live map they are found once.
  struct Places {
    std::vector<std::size_t> inputs;   // input_tags() order
    std::vector<std::size_t> outputs;  // output_tags() order
  };
  // Throws MissingKey for a tag absent from data.
  Places places_in(const ValueMap& data) const;

  // One period on a map with the layout places were found in: reads the
  // inputs at their places and writes the outputs (doubles, plus v[k] when
  // v is not empty) at theirs, as merging run()'s result into it would.
  // Throws std::invalid_argument for places of another plant or noise of
  // another size, std::out_of_range for a place past the map's end.
  void run_at(ValueMap& data, const Places& places, std::span<const double> v = {});

  const std::vector<std::string>& output_tags() const noexcept;
  const std::vector<std::string>& input_tags() const noexcept;
  double sampling_time() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvex
