#include "corvex/pid.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "corvex/value.h"

namespace corvex {

PID::PID(Options options) : ts_(options.TS) {
  if (!(ts_ > 0.0) || !std::isfinite(ts_))
    throw std::invalid_argument("PID: TS must be finite and > 0, got " + to_text(ts_));
}

PID::PID(double TS) : PID(Options{TS}) {}

void PID::setPIDParam(const Params& params) {
  for (const auto& [name, value] : {std::pair<const char*, double>{"KP", params.KP},
                                    {"TI", params.TI},
                                    {"TD", params.TD},
                                    {"N", params.N}}) {
    if (!std::isfinite(value))
      throw std::invalid_argument(std::string("PID: ") + name + " must be finite, got " + to_text(value));
  }
  params_ = params;
}

void PID::setPIDParam(double KP, double TI, double TD, double N) {
  setPIDParam(Params{KP, TI, TD, N});
}

void PID::setOPHighLowLimit(double OP_HI, double OP_LO) {
  if (std::isnan(OP_HI) || std::isnan(OP_LO) || OP_HI < OP_LO)
    throw std::invalid_argument("PID: output limits need OP_LO <= OP_HI, got OP_HI " + to_text(OP_HI) +
                                ", OP_LO " + to_text(OP_LO));
  op_hi_ = OP_HI;
  op_lo_ = OP_LO;
}

double PID::run(const Inputs& inputs) {
  const auto [mode, sp, pv, tv] = inputs;
  if (!std::isfinite(sp) || !std::isfinite(pv) || !std::isfinite(tv)) return has_output_ ? last_output_ : tv;

  const double error = sp - pv;
  if (!primed_) {
    last_error_ = error;
    last_pv_ = pv;
    last_derivative_ = 0.0;
    primed_ = true;
  }

  // The derivative filter runs in manual too, so that it is settled when
  // automatic resumes.
  double derivative = 0.0;
  if (params_.TD > 0.0) {
    const double tf = params_.N > 0.0 ? params_.TD / params_.N : 0.0;
    derivative = (tf * last_derivative_ + params_.TD * (pv - last_pv_)) / (tf + ts_);
  }

  double out = tv;
  if (mode == 1) {
    const double integral = params_.TI > 0.0 ? ts_ / params_.TI * error : 0.0;
    out += params_.KP * ((error - last_error_) + integral) - params_.KP * (derivative - last_derivative_);
  }
  // Extreme tuning can make inf − inf: keep the controller as it was rather
  // than hold NaN as its output for ever.
  if (std::isnan(out)) return has_output_ ? last_output_ : tv;
  out = std::clamp(out, op_lo_, op_hi_);

  last_error_ = error;
  last_pv_ = pv;
  last_derivative_ = derivative;
  last_output_ = out;
  has_output_ = true;
  return out;
}

double PID::run(int MODE, double SP, double PV, double TV) {
  return run(Inputs{MODE, SP, PV, TV});
}

}  // namespace corvex
