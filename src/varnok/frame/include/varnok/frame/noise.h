#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace varnok::frame {

// Standard normal numbers from a fixed, portable source: mt19937_64 and the
// polar method, so a seed gives the same sequence on every compiler.
class NormalGenerator {
 public:
  explicit NormalGenerator(std::uint64_t seed) : engine_(seed) {}
  double next();
  std::vector<double> draw(std::size_t n);

 private:
  double uniform_open();  // in (0, 1)
  std::mt19937_64 engine_;
  double spare_ = 0.0;
  bool has_spare_ = false;
};

// Difference-equation filter from rest (values before n = 0 are zero):
//   a0·y[n] = sum_i b[i]·x[n−i] − sum_{j>=1} a[j]·y[n−j]
// Throws std::invalid_argument for an empty b or a, or a[0] == 0.
std::vector<double> lfilter(std::span<const double> b, std::span<const double> a, std::span<const double> x);

// n fresh draws of gen passed through b(z)/a(z).
std::vector<double> coloured_noise(NormalGenerator& gen, std::size_t n, std::span<const double> b,
                                   std::span<const double> a);

// A random disturbance walk: slow + fast_weight·fast, two coloured-noise
// sequences with the same numerator, the slow one drawn first.
std::vector<double> random_walk(NormalGenerator& gen, std::size_t n, std::span<const double> num,
                                std::span<const double> slow_den, std::span<const double> fast_den,
                                double fast_weight);

// Polynomial product (convolution) of two coefficient lists.
std::vector<double> poly_mul(std::span<const double> p, std::span<const double> q);

double mean(std::span<const double> x);
// Standard deviation with divisor n (two passes, so no cancellation).
double population_std(std::span<const double> x);

// x ← x − mean, in place.
void remove_mean(std::vector<double>& x);
// x ← (x − mean) / population std, in place.
void standardise(std::vector<double>& x);
// x ← amplitude·x / population std + centre, in place; the mean is kept.
void scale_about(std::vector<double>& x, double amplitude, double centre);

}  // namespace varnok::frame
