#include "varnok/frame/noise.h"

#include <cmath>
#include <stdexcept>

namespace varnok::frame {

double NormalGenerator::uniform_open() {
  // 53 random bits, shifted by half a step so 0 and 1 never occur.
  return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53;
}

double NormalGenerator::next() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double u = 0.0;
  double v = 0.0;
  double s = 0.0;
  do {
    u = 2.0 * uniform_open() - 1.0;
    v = 2.0 * uniform_open() - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0 || s == 0.0);
  const double factor = std::sqrt(-2.0 * std::log(s) / s);
  spare_ = v * factor;
  has_spare_ = true;
  return u * factor;
}

std::vector<double> NormalGenerator::draw(std::size_t n) {
  std::vector<double> out(n);
  for (auto& x : out) x = next();
  return out;
}

std::vector<double> lfilter(std::span<const double> b, std::span<const double> a, std::span<const double> x) {
  if (b.empty() || a.empty()) throw std::invalid_argument("lfilter: empty numerator or denominator");
  if (a[0] == 0.0) throw std::invalid_argument("lfilter: leading denominator coefficient is 0");
  const double a0 = a[0];
  std::vector<double> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    double acc = 0.0;
    for (std::size_t i = 0; i < b.size() && i <= n; ++i) acc += b[i] * x[n - i];
    for (std::size_t j = 1; j < a.size() && j <= n; ++j) acc -= a[j] * y[n - j];
    y[n] = acc / a0;
  }
  return y;
}

std::vector<double> coloured_noise(NormalGenerator& gen, std::size_t n, std::span<const double> b,
                                   std::span<const double> a) {
  const std::vector<double> e = gen.draw(n);
  return lfilter(b, a, e);
}

std::vector<double> random_walk(NormalGenerator& gen, std::size_t n, std::span<const double> num,
                                std::span<const double> slow_den, std::span<const double> fast_den,
                                double fast_weight) {
  std::vector<double> walk = coloured_noise(gen, n, num, slow_den);
  const std::vector<double> fast = coloured_noise(gen, n, num, fast_den);
  for (std::size_t i = 0; i < n; ++i) walk[i] += fast_weight * fast[i];
  return walk;
}

std::vector<double> poly_mul(std::span<const double> p, std::span<const double> q) {
  if (p.empty() || q.empty()) return {};
  std::vector<double> out(p.size() + q.size() - 1, 0.0);
  for (std::size_t i = 0; i < p.size(); ++i)
    for (std::size_t j = 0; j < q.size(); ++j) out[i + j] += p[i] * q[j];
  return out;
}

double mean(std::span<const double> x) {
  if (x.empty()) return 0.0;
  double sum = 0.0;
  for (double v : x) sum += v;
  return sum / static_cast<double>(x.size());
}

double population_std(std::span<const double> x) {
  if (x.empty()) return 0.0;
  const double m = mean(x);
  double sum = 0.0;
  for (double v : x) sum += (v - m) * (v - m);
  return std::sqrt(sum / static_cast<double>(x.size()));
}

void remove_mean(std::vector<double>& x) {
  const double m = mean(x);
  for (auto& v : x) v -= m;
}

void standardise(std::vector<double>& x) {
  remove_mean(x);
  const double s = population_std(x);
  for (auto& v : x) v /= s;
}

void scale_about(std::vector<double>& x, double amplitude, double centre) {
  const double s = population_std(x);
  for (auto& v : x) v = amplitude * v / s + centre;
}

}  // namespace varnok::frame
