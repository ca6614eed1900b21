#include "state_space_path.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unsupported/Eigen/MatrixFunctions>

#include "corvex/value.h"

namespace corvex::detail {
namespace {

std::vector<double> strip_leading_zeros(const std::vector<double>& poly) {
  auto first = std::find_if(poly.begin(), poly.end(), [](double v) { return v != 0.0; });
  return {first, poly.end()};
}

std::string poly_text(const std::vector<double>& poly) {
  std::string out = "[";
  for (std::size_t i = 0; i < poly.size(); ++i) out += (i ? ", " : "") + to_text(poly[i]);
  return out + "]";
}

void check_finite(const std::vector<double>& poly, const char* which, const std::string& context) {
  if (!std::all_of(poly.begin(), poly.end(), [](double v) { return std::isfinite(v); }))
    throw std::invalid_argument(context + ": " + which + " has a non-finite coefficient: " + poly_text(poly));
}

}  // namespace

void check_period(double Ts, const std::string& context) {
  if (!(Ts > 0.0) || !std::isfinite(Ts))
    throw std::invalid_argument(context + ": Ts must be finite and > 0, got " + to_text(Ts));
}

DiscretePath discretise_zoh(const std::vector<double>& num_in, const std::vector<double>& den_in,
                            bool integral, double delay, double Ts, const std::string& context) {
  check_period(Ts, context);
  check_finite(num_in, "numerator", context);
  check_finite(den_in, "denominator", context);
  std::vector<double> num = strip_leading_zeros(num_in);
  std::vector<double> den = strip_leading_zeros(den_in);
  if (den.empty())
    throw std::invalid_argument(context + ": denominator is empty or all zero: " + poly_text(den_in));
  if (integral) den.push_back(0.0);
  if (num.size() > den.size())
    throw std::invalid_argument(context + ": improper path, numerator " + poly_text(num_in) +
                                " has a higher degree than denominator " + poly_text(den_in) +
                                (integral ? " times s" : ""));
  if (!std::isfinite(delay) || delay < 0.0)
    throw std::invalid_argument(context + ": dead time must be finite and >= 0, got " + to_text(delay));
  if (delay / Ts > kMaxLagPeriods)
    throw std::invalid_argument(context + ": dead time " + to_text(delay) + " exceeds " +
                                to_text(kMaxLagPeriods) + " periods");

  DiscretePath path;
  // delay = lag·Ts + theta; a theta within rounding of 0 or Ts is a whole period.
  const double tol = 1e-12 * Ts;
  path.lag = static_cast<std::int64_t>(std::floor(delay / Ts));
  double theta = delay - static_cast<double>(path.lag) * Ts;
  if (theta <= tol) {
    theta = 0.0;
  } else if (theta >= Ts - tol) {
    ++path.lag;
    theta = 0.0;
  }
  path.fractional = theta > 0.0;

  // Monic denominator 1, a1..an; numerator padded to the same length.
  const auto n = static_cast<Eigen::Index>(den.size()) - 1;
  const double lead = den.front();
  Eigen::VectorXd a(n + 1), b = Eigen::VectorXd::Zero(n + 1);
  for (Eigen::Index i = 0; i <= n; ++i) a(i) = den[static_cast<std::size_t>(i)] / lead;
  const auto pad = static_cast<Eigen::Index>(den.size() - num.size());
  for (std::size_t i = 0; i < num.size(); ++i) b(pad + static_cast<Eigen::Index>(i)) = num[i] / lead;

  path.d = b(0);
  path.phi.resize(n, n);
  path.gamma0 = Eigen::VectorXd::Zero(n);
  path.gamma1 = Eigen::VectorXd::Zero(n);
  path.c.resize(n);
  if (n == 0) return path;

  // Controllable canonical form: x1' = −a1·x1 − … − an·xn + u, x(i+1)' = xi,
  // y = Σ (b_i − d·a_i)·x_i + d·u. The augmented matrix [[A, B], [0, 0]]·τ
  // exponentiates to [[e^{Aτ}, ∫0^τ e^{Aσ}dσ·B], [0, 1]].
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n + 1, n + 1);
  for (Eigen::Index j = 0; j < n; ++j) m(0, j) = -a(j + 1);
  for (Eigen::Index i = 1; i < n; ++i) m(i, i - 1) = 1.0;
  m(0, n) = 1.0;
  for (Eigen::Index i = 0; i < n; ++i) path.c(i) = b(i + 1) - path.d * a(i + 1);

  const Eigen::MatrixXd whole = (m * Ts).exp();
  path.phi = whole.topLeftCorner(n, n);
  if (!path.fractional) {
    path.gamma0 = whole.topRightCorner(n, 1);
    return path;
  }
  // Over a period the input is u[k−lag−1] for the first theta, u[k−lag] after.
  const Eigen::MatrixXd late = (m * (Ts - theta)).exp();
  const Eigen::MatrixXd early = (m * theta).exp();
  path.gamma0 = late.topRightCorner(n, 1);
  path.gamma1 = late.topLeftCorner(n, n) * early.topRightCorner(n, 1);
  return path;
}

}  // namespace corvex::detail
