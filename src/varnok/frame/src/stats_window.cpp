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

StatsWindow::StatsWindow(std::size_t capacity) : buffer_(capacity) {
  if (capacity == 0) throw std::invalid_argument("StatsWindow: capacity must be at least 1");
}

void StatsWindow::append(double value) {
  const std::size_t capacity = buffer_.size();
  const bool full = size_ == capacity;
  // The sums in locals until the end: a store into the buffer could
  // otherwise be taken to change them.
  Sum deviations = deviations_;
  Sum squares = squares_;
  if (full) {
    const double old = buffer_[next_] - reference_;
    deviations.add(-old);
    squares.add(-old * old);
  }
  const double d = value - reference_;
  deviations.add(d);
  squares.add(d * d);
  deviations_ = deviations;
  squares_ = squares;

  equal_run_ = size_ > 0 && value != last_ ? 1 : equal_run_ + 1;
  last_ = value;
  buffer_[next_] = value;
  next_ = next_ + 1 == capacity ? 0 : next_ + 1;
  if (!full) count_ = static_cast<double>(++size_);

  double m = 0.0;
  variance_ = variance(m);
  if (++since_rebuild_ >= capacity || !std::isfinite(d) || m * m > kMaxOffsetRatio * variance_) {
    rebuild();
    variance_ = variance(m);
  }
}

// Two passes over the values: K becomes their mean, the sums the exact
// sums of the deviations from it.
void StatsWindow::rebuild() {
  since_rebuild_ = 0;
  double sum = 0.0;
  for (std::size_t i = 0; i < size_; ++i) sum += buffer_[i];
  reference_ = sum / count_;
  deviations_ = {};
  squares_ = {};
  for (std::size_t i = 0; i < size_; ++i) {
    const double d = buffer_[i] - reference_;
    deviations_.add(d);
    squares_.add(d * d);
  }
}

}  // namespace varnok::frame
