#pragma once

namespace corvex {

// Ideal PID in velocity (incremental) form, reverse acting (e = SP − PV),
// added to the tracking value TV (the output's current value):
//   out = clamp(TV + KP·[(e_k − e_{k−1}) + (Ts/TI)·e_k] − KP·(d_k − d_{k−1}), OP_LO, OP_HI)
// where d is the derivative of PV through a first-order filter of time
// constant TD/N (backward difference):
//   d_k = Tf/(Tf + Ts)·d_{k−1} + TD/(Tf + Ts)·(PV_k − PV_{k−1}),  Tf = TD/N
// Because the output is rebuilt from TV every call, clamping cannot wind up
// an integral. TI <= 0 turns integral action off; TD <= 0 turns the
// derivative off; N <= 0 means an unfiltered derivative (Tf = 0).
// The first call in automatic mode starts from e_{k−1} = e_k and
// PV_{k−1} = PV_k, so it moves the output by the integral term only.
// MODE 1 is automatic; any other mode is manual: the output is TV (clamped)
// and the controller tracks SP and PV so that returning to automatic is
// bumpless. A non-finite SP, PV or TV, or tuning so extreme that the output
// is not a number, leaves the controller state alone and returns the last
// output (TV before the first call).
class PID {
 public:
  struct Options {
    double TS = 1.0;  // period, seconds, > 0
  };
  // Throws std::invalid_argument unless TS is finite and > 0.
  explicit PID(Options options);
  explicit PID(double TS = 1.0);

  struct Params {
    double KP = 1.0;
    double TI = 0.0;
    double TD = 0.0;
    double N = 10.0;
  };
  // Throws std::invalid_argument for a non-finite parameter.
  void setPIDParam(const Params& params);
  void setPIDParam(double KP, double TI, double TD, double N);

  // Default 0..100. Throws std::invalid_argument for NaN or OP_HI < OP_LO.
  void setOPHighLowLimit(double OP_HI, double OP_LO);

  struct Inputs {
    int MODE = 1;
    double SP = 0.0;
    double PV = 0.0;
    double TV = 0.0;
  };
  double run(const Inputs& inputs);
  double run(int MODE, double SP, double PV, double TV);

 private:
  double ts_;
  Params params_{};
  double op_hi_ = 100.0;
  double op_lo_ = 0.0;
  bool primed_ = false;
  double last_error_ = 0.0;
  double last_pv_ = 0.0;
  double last_derivative_ = 0.0;
  double last_output_ = 0.0;
  bool has_output_ = false;
};

}  // namespace corvex
