#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "corvex/mimo_sim.h"

namespace corvex {

// Linear parameter-varying plant: local MIMOSim models valid at operating
// points, blended by the current working value.
//
// Weights: linear interpolation between the two operating points nearest to
// the working value, clamped outside the range (the lowest point gets weight
// 1 below it, the highest above it). Before the first call the lowest point
// has weight 1. Every local model is stepped every call with the same inputs,
// so a change of weights is bumpless: a model taking over already carries the
// response to the whole input history. All local models share the initial
// values, so the output is
//   y = y0 + sum_i w_i·(y_i − y0) + v
// A non-finite working value keeps the previous weights. Outputs are in the
// order of the first local model added.
class LPVPlantSim {
 public:
  explicit LPVPlantSim(ValueMap ini_value_dict);
  ~LPVPlantSim();
  LPVPlantSim(LPVPlantSim&&) noexcept;
  LPVPlantSim& operator=(LPVPlantSim&&) noexcept;

  struct LocalModel {
    int plant_id = 0;
    double operating_point = 0.0;
    PlantDescription yu_model_tf;
    double Ts = 1.0;
  };
  // Throws std::invalid_argument for a plant id or operating point already
  // present, a non-finite operating point, outputs that differ from those of
  // earlier local models, or anything MIMOSim refuses. The weights are
  // recomputed for the last working value.
  void addPlant(const LocalModel& model);
  void addPlant(int plant_id, double operating_point, const PlantDescription& yu_model_tf, double Ts);

  // One period at this working value. Throws std::logic_error when no local
  // model was added, and MissingKey, before any model is stepped, when an
  // input of any local model is absent.
  ValueMap operator()(double working_value, const ValueMap& u_Value_Dict, const ValueMap& v_Value_Dict = {});

  // Where a map keeps every local model's inputs and the outputs; found
  // after the last addPlant, as a simulation's live map keeps its layout.
  struct Places {
    std::vector<std::vector<std::size_t>> inputs;  // per local model, its input_tags() order
    std::vector<std::size_t> outputs;              // output order
  };
  // Throws MissingKey for a tag absent from data.
  Places places_in(const ValueMap& data) const;

  // One period on a map with the layout places were found in: the
  // outputs (plus v[k] when v is not empty) are written at their places,
  // as merging operator()'s result into it would. Throws std::logic_error
  // when no local model was added, std::invalid_argument for places or
  // noise that do not fit.
  void run_at(double working_value, ValueMap& data, const Places& places, std::span<const double> v = {});

  // Plant id -> weight used in the last call.
  std::map<int, double> get_current_plant_weight_dict() const;
  // The same for one plant id; none when no local model has it.
  std::optional<double> current_weight(int plant_id) const;

 private:
  struct Local {
    int plant_id;
    double operating_point;
    MIMOSim sim;
    std::vector<std::size_t> output_of;  // output k -> the local model's output
  };
  void update_weights(double working_value);
  // Steps every local model on inputs_of(i) (local model i's inputs in
  // its order) and writes the blended outputs, without noise, into y_.
  template <typename InputsOf>
  void blend(double working_value, InputsOf inputs_of);

  ValueMap ini_value_dict_;
  std::vector<Local> locals_;  // sorted by operating point
  std::vector<double> weights_;
  std::vector<std::string> outputs_;  // of the first local model, in its order
  std::vector<double> y0_;            // their initial values
  std::vector<double> u_, local_y_, y_;
  double working_value_;  // last finite one, NaN before it
};

}  // namespace corvex
