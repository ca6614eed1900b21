#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace varnok::frame {

// The last `capacity` values of a CV and their population standard
// deviation. A full window drops its oldest value.
//
// Each append costs O(1): the window keeps compensated sums of the values'
// deviations from a reference K and of their squares, so the deviation is
// read off them. To stay within 1e-12 of the two-pass value whatever the
// data, the sums are rebuilt from the values (two passes, K the mean) once
// per `capacity` appends, so rounding cannot accumulate, and whenever the
// mean has moved so far from K that the squares would cancel. A window whose
// values are all equal gives exactly 0.0.
class StatsWindow {
 public:
  static constexpr std::size_t kTenMinutes = 600;
  explicit StatsWindow(std::size_t capacity = kTenMinutes);

  void append(double value);
  double population_std() const { return size_ == 0 || equal_run_ >= size_ ? 0.0 : std::sqrt(variance_); }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return buffer_.size(); }

 private:
  // A sum with Neumaier's compensation.
  struct Sum {
    double total = 0.0;
    double error = 0.0;
    void add(double x) {
      const double t = total + x;
      error += std::abs(total) >= std::abs(x) ? (total - t) + x : (x - t) + total;
      total = t;
    }
    double value() const { return total + error; }
  };

  void rebuild();
  // The variance from the sums, and the mean deviation from K it used.
  double variance(double& mean_offset) const {
    mean_offset = deviations_.value() / count_;
    return std::max(0.0, squares_.value() / count_ - mean_offset * mean_offset);
  }

  std::vector<double> buffer_;
  std::size_t next_ = 0;
  std::size_t size_ = 0;
  double count_ = 0.0;      // size_, as the sums are divided by it
  double reference_ = 0.0;  // K
  Sum deviations_;          // of value - K
  Sum squares_;             // of (value - K)^2
  std::size_t since_rebuild_ = 0;
  std::size_t equal_run_ = 0;  // the newest values equal to the last one
  double last_ = 0.0;          // the newest value
  double variance_ = 0.0;      // of the sums as they stand
};

}  // namespace varnok::frame
