#include "varnok/frame/stats_window.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace varnok::frame {

namespace {

// Above this ratio of the squared mean offset to the variance, reading the
// variance off the sums would cancel more than a few digits.
constexpr double kMaxOffsetRatio = 64.0;

}  // namespace

void StatsWindow::Sum::add(double x) {
  const double t = total + x;
  error += std::abs(total) >= std::abs(x) ? (total - t) + x : (x - t) + total;
  total = t;
}

StatsWindow::StatsWindow(std::size_t capacity) : buffer_(capacity) {
  if (capacity == 0) throw std::invalid_argument("StatsWindow: capacity must be at least 1");
}

void StatsWindow::append(double value) {
  const bool full = size_ == buffer_.size();
  const double last = size_ > 0 ? buffer_[(next_ + buffer_.size() - 1) % buffer_.size()] : value;
  if (full) {
    const double old = buffer_[next_] - reference_;
    deviations_.add(-old);
    squares_.add(-old * old);
  }
  buffer_[next_] = value;
  next_ = (next_ + 1) % buffer_.size();
  if (!full) ++size_;
  equal_run_ = value == last ? equal_run_ + 1 : 1;

  const double d = value - reference_;
  deviations_.add(d);
  squares_.add(d * d);
  if (++since_rebuild_ >= buffer_.size() || !std::isfinite(d)) {
    rebuild();
    return;
  }
  const double m = mean_offset();
  if (m * m > kMaxOffsetRatio * variance()) rebuild();
}

// Two passes over the values: K becomes their mean, the sums the exact
// sums of the deviations from it.
void StatsWindow::rebuild() {
  since_rebuild_ = 0;
  double sum = 0.0;
  for (std::size_t i = 0; i < size_; ++i) sum += buffer_[i];
  reference_ = sum / static_cast<double>(size_);
  deviations_ = {};
  squares_ = {};
  for (std::size_t i = 0; i < size_; ++i) {
    const double d = buffer_[i] - reference_;
    deviations_.add(d);
    squares_.add(d * d);
  }
}

double StatsWindow::mean_offset() const {
  return deviations_.value() / static_cast<double>(size_);
}

double StatsWindow::variance() const {
  const double m = mean_offset();
  return std::max(0.0, squares_.value() / static_cast<double>(size_) - m * m);
}

double StatsWindow::population_std() const {
  if (size_ == 0 || equal_run_ >= size_) return 0.0;
  return std::sqrt(variance());
}

}  // namespace varnok::frame
