#include "corvex/c2d.h"

#include <stdexcept>
#include <string>

#include "state_space_path.h"

namespace corvex {
namespace {

// Characteristic polynomial det(zI − phi) by Faddeev–LeVerrier, returned in
// ascending powers of z^-1 (leading 1). Adequate for the small orders of
// process transfer functions.
std::vector<double> characteristic_polynomial(const Eigen::MatrixXd& phi) {
  const Eigen::Index n = phi.rows();
  std::vector<double> coeffs{1.0};
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
  for (Eigen::Index k = 1; k <= n; ++k) {
    m = phi * m + coeffs.back() * Eigen::MatrixXd::Identity(n, n);
    coeffs.push_back(-(phi * m).trace() / static_cast<double>(k));
  }
  return coeffs;
}

}  // namespace

DiscreteTransferFunction c2d(const std::vector<double>& num, const std::vector<double>& den, double delay,
                             double Ts, std::string_view method) {
  if (method != "zoh") throw std::invalid_argument("c2d: unsupported method \"" + std::string(method) + "\"");
  const detail::DiscretePath path = detail::discretise_zoh(num, den, false, delay, Ts, "c2d");

  // Samples at t = n·Ts of the response to a unit pulse held over [0, Ts),
  // after the whole-period lag: feedthrough first (at n = 0, or n = 1 when a
  // fractional dead time holds it back), then c·phi^(j−1)·gamma0 +
  // c·phi^(j−2)·gamma1.
  const Eigen::Index n = path.order();
  const std::size_t length = static_cast<std::size_t>(n) + (path.fractional ? 2 : 1);
  std::vector<double> markov(length, 0.0);
  markov[path.fractional ? 1 : 0] += path.d;
  Eigen::VectorXd x0 = path.gamma0, x1 = Eigen::VectorXd::Zero(n);
  for (std::size_t j = 1; j < length; ++j) {
    markov[j] += path.c.dot(x0) + path.c.dot(x1);
    x0 = path.phi * x0;
    if (j == 1)
      x1 = path.gamma1;
    else
      x1 = path.phi * x1;
  }

  DiscreteTransferFunction out;
  out.den = characteristic_polynomial(path.phi);
  // num = markov * den, truncated: the product is exact up to this length.
  out.num.assign(static_cast<std::size_t>(path.lag), 0.0);
  for (std::size_t i = 0; i < length; ++i) {
    double sum = 0.0;
    for (std::size_t k = 0; k <= i && k < out.den.size(); ++k) sum += out.den[k] * markov[i - k];
    out.num.push_back(sum);
  }
  return out;
}

}  // namespace corvex
