#include "corvex/lpv_plant_sim.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace corvex {

LPVPlantSim::LPVPlantSim(ValueMap ini_value_dict)
    : ini_value_dict_(std::move(ini_value_dict)), working_value_(std::numeric_limits<double>::quiet_NaN()) {}

LPVPlantSim::~LPVPlantSim() = default;
LPVPlantSim::LPVPlantSim(LPVPlantSim&&) noexcept = default;
LPVPlantSim& LPVPlantSim::operator=(LPVPlantSim&&) noexcept = default;

void LPVPlantSim::addPlant(const LocalModel& model) {
  const std::string context = "LPVPlantSim: plant " + std::to_string(model.plant_id);
  if (!std::isfinite(model.operating_point))
    throw std::invalid_argument(context +
                                ": operating point is not finite: " + to_text(model.operating_point));
  for (const Local& local : locals_) {
    if (local.plant_id == model.plant_id) throw std::invalid_argument(context + ": plant id already added");
    if (local.operating_point == model.operating_point)
      throw std::invalid_argument(context + ": operating point " + to_text(model.operating_point) +
                                  " already used by plant " + std::to_string(local.plant_id));
  }

  MIMOSim sim(model.yu_model_tf, ini_value_dict_, model.Ts);
  if (!outputs_.empty()) {
    std::vector<std::string> have = outputs_, got = sim.output_tags();
    std::sort(have.begin(), have.end());
    std::sort(got.begin(), got.end());
    if (have != got)
      throw std::invalid_argument(context + ": outputs differ from those of the earlier plants");
  } else {
    outputs_ = sim.output_tags();
  }

  auto at = std::find_if(locals_.begin(), locals_.end(),
                         [&](const Local& local) { return local.operating_point > model.operating_point; });
  locals_.insert(at, Local{model.plant_id, model.operating_point, std::move(sim)});
  weights_.assign(locals_.size(), 0.0);
  weights_.front() = 1.0;
  if (std::isfinite(working_value_)) update_weights(working_value_);
}

void LPVPlantSim::addPlant(int plant_id, double operating_point, const PlantDescription& yu_model_tf,
                           double Ts) {
  addPlant(LocalModel{plant_id, operating_point, yu_model_tf, Ts});
}

void LPVPlantSim::update_weights(double working_value) {
  if (!std::isfinite(working_value)) return;
  working_value_ = working_value;
  std::fill(weights_.begin(), weights_.end(), 0.0);
  if (working_value <= locals_.front().operating_point) {
    weights_.front() = 1.0;
    return;
  }
  if (working_value >= locals_.back().operating_point) {
    weights_.back() = 1.0;
    return;
  }
  std::size_t hi = 1;
  while (locals_[hi].operating_point <= working_value) ++hi;
  const double lo_point = locals_[hi - 1].operating_point;
  const double hi_point = locals_[hi].operating_point;
  weights_[hi - 1] = (hi_point - working_value) / (hi_point - lo_point);
  weights_[hi] = 1.0 - weights_[hi - 1];
}

ValueMap LPVPlantSim::operator()(double working_value, const ValueMap& u_Value_Dict,
                                 const ValueMap& v_Value_Dict) {
  if (locals_.empty()) throw std::logic_error("LPVPlantSim: no local model added");
  // Local models may read different inputs; check them all first so that no
  // model is stepped when one would refuse.
  for (const Local& local : locals_)
    for (const std::string& tag : local.sim.input_tags())
      if (!u_Value_Dict.contains(tag)) throw MissingKey(tag);

  update_weights(working_value);
  ValueMap out;
  for (const std::string& tag : outputs_) out.set(tag, 0.0);
  for (std::size_t i = 0; i < locals_.size(); ++i) {
    const ValueMap local_out = locals_[i].sim.run(u_Value_Dict);
    if (weights_[i] == 0.0) continue;
    for (auto& [tag, y] : out)
      y = y.to_double() + weights_[i] * (local_out.at(tag).to_double() - ini_value_dict_.at(tag).to_double());
  }
  for (auto& [tag, y] : out) {
    double total = ini_value_dict_.at(tag).to_double() + y.to_double();
    if (const Value* v = v_Value_Dict.find(tag)) total += v->to_double();
    y = total;
  }
  return out;
}

std::map<int, double> LPVPlantSim::get_current_plant_weight_dict() const {
  std::map<int, double> out;
  for (std::size_t i = 0; i < locals_.size(); ++i) out[locals_[i].plant_id] = weights_[i];
  return out;
}

}  // namespace corvex
