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
    for (const std::string& tag : outputs_) y0_.push_back(ini_value_dict_.at(tag).to_double());
    y_.assign(outputs_.size(), 0.0);
    local_y_.assign(outputs_.size(), 0.0);
  }
  std::vector<std::size_t> output_of;
  for (const std::string& tag : outputs_) {
    const auto& got = sim.output_tags();
    output_of.push_back(static_cast<std::size_t>(std::find(got.begin(), got.end(), tag) - got.begin()));
  }
  u_.resize(std::max(u_.size(), sim.input_tags().size()));

  auto at = std::find_if(locals_.begin(), locals_.end(),
                         [&](const Local& local) { return local.operating_point > model.operating_point; });
  locals_.insert(at, Local{model.plant_id, model.operating_point, std::move(sim), std::move(output_of)});
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

template <typename InputsOf>
void LPVPlantSim::blend(double working_value, InputsOf inputs_of) {
  update_weights(working_value);
  std::fill(y_.begin(), y_.end(), 0.0);
  for (std::size_t i = 0; i < locals_.size(); ++i) {
    Local& local = locals_[i];
    const std::span<double> u(u_.data(), local.sim.input_tags().size());
    inputs_of(i, u);
    local.sim.run(u, local_y_);
    if (weights_[i] == 0.0) continue;
    for (std::size_t k = 0; k < y_.size(); ++k)
      y_[k] = y_[k] + weights_[i] * (local_y_[local.output_of[k]] - y0_[k]);
  }
}

ValueMap LPVPlantSim::operator()(double working_value, const ValueMap& u_Value_Dict,
                                 const ValueMap& v_Value_Dict) {
  if (locals_.empty()) throw std::logic_error("LPVPlantSim: no local model added");
  // Local models may read different inputs; check them all first so that no
  // model is stepped when one would refuse.
  for (const Local& local : locals_)
    for (const std::string& tag : local.sim.input_tags())
      if (!u_Value_Dict.contains(tag)) throw MissingKey(tag);

  blend(working_value, [&](std::size_t i, std::span<double> u) {
    const auto& tags = locals_[i].sim.input_tags();
    for (std::size_t j = 0; j < u.size(); ++j) u[j] = u_Value_Dict.at(tags[j]).to_double();
  });
  ValueMap out;
  for (std::size_t k = 0; k < outputs_.size(); ++k) {
    double total = y0_[k] + y_[k];
    if (const Value* v = v_Value_Dict.find(outputs_[k])) total += v->to_double();
    out.set(outputs_[k], total);
  }
  return out;
}

LPVPlantSim::Places LPVPlantSim::places_in(const ValueMap& data) const {
  Places places;
  for (const Local& local : locals_) places.inputs.push_back(local.sim.places_in(data).inputs);
  for (const std::string& tag : outputs_) places.outputs.push_back(data.index_of(tag));
  return places;
}

void LPVPlantSim::run_at(double working_value, ValueMap& data, const Places& places,
                         std::span<const double> v) {
  if (locals_.empty()) throw std::logic_error("LPVPlantSim: no local model added");
  bool fits = places.inputs.size() == locals_.size() && places.outputs.size() == outputs_.size() &&
              (v.empty() || v.size() == outputs_.size());
  for (std::size_t i = 0; fits && i < locals_.size(); ++i)
    fits = places.inputs[i].size() == locals_[i].sim.input_tags().size();
  if (!fits) throw std::invalid_argument("LPVPlantSim::run_at: places or noise of another plant");

  blend(working_value, [&](std::size_t i, std::span<double> u) {
    for (std::size_t j = 0; j < u.size(); ++j) u[j] = data.value_at(places.inputs[i][j]).to_double();
  });
  for (std::size_t k = 0; k < outputs_.size(); ++k) {
    double total = y0_[k] + y_[k];
    if (!v.empty()) total += v[k];
    data.value_at(places.outputs[k]) = total;
  }
}

std::map<int, double> LPVPlantSim::get_current_plant_weight_dict() const {
  std::map<int, double> out;
  for (std::size_t i = 0; i < locals_.size(); ++i) out[locals_[i].plant_id] = weights_[i];
  return out;
}

std::optional<double> LPVPlantSim::current_weight(int plant_id) const {
  for (std::size_t i = 0; i < locals_.size(); ++i)
    if (locals_[i].plant_id == plant_id) return weights_[i];
  return std::nullopt;
}

}  // namespace corvex
