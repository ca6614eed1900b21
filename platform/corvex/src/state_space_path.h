#pragma once

#include <Eigen/Dense>
#include <cstdint>
#include <string>
#include <vector>

namespace corvex::detail {

// Longest dead time accepted, in periods: bounds the delay line's memory.
inline constexpr double kMaxLagPeriods = 1e6;

// One transfer path K(s)·e^(−delay·s) discretised exactly for inputs held
// over a period Ts. The dead time is split as delay = lag·Ts + theta with
// 0 <= theta < Ts. With u[k] the input held over period k:
//   x[k+1] = phi·x[k] + gamma0·u[k−lag] + gamma1·u[k−lag−1]
// and the output just before the end of period k is
//   y = c·x[k+1] + d·u[k−lag]
// (left limit, so a step is felt only after the dead time has passed).
// gamma1 is zero and fractional false when theta is 0. A pure gain has
// order 0 and only d.
struct DiscretePath {
  Eigen::MatrixXd phi;
  Eigen::VectorXd gamma0;
  Eigen::VectorXd gamma1;
  Eigen::RowVectorXd c;
  double d = 0.0;
  std::int64_t lag = 0;
  bool fractional = false;

  Eigen::Index order() const { return phi.rows(); }
};

// Throws std::invalid_argument unless Ts is finite and > 0.
void check_period(double Ts, const std::string& context);

// Realises num(s)/den(s) (descending powers; times 1/s when integral) in
// controllable canonical form and discretises it. Leading zeros of num and
// den are ignored. Throws std::invalid_argument, the message starting with
// context, for a non-finite coefficient, an all-zero denominator, an
// improper path, a negative, non-finite or too long dead time, or a bad Ts.
DiscretePath discretise_zoh(const std::vector<double>& num, const std::vector<double>& den, bool integral,
                            double delay, double Ts, const std::string& context);

}  // namespace corvex::detail
