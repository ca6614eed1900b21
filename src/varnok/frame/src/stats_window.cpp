#include "varnok/frame/stats_window.h"

#include <cmath>
#include <stdexcept>

namespace varnok::frame {

StatsWindow::StatsWindow(std::size_t capacity) : buffer_(capacity) {
  if (capacity == 0) throw std::invalid_argument("StatsWindow: capacity must be at least 1");
}

void StatsWindow::append(double value) {
  buffer_[next_] = value;
  next_ = (next_ + 1) % buffer_.size();
  if (size_ < buffer_.size()) ++size_;
}

double StatsWindow::population_std() const {
  if (size_ == 0) return 0.0;
  // Only the first size_ slots are filled until the window is full.
  const double first = buffer_[0];
  bool all_equal = true;
  double sum = 0.0;
  for (std::size_t i = 0; i < size_; ++i) {
    sum += buffer_[i];
    all_equal = all_equal && buffer_[i] == first;
  }
  if (all_equal) return 0.0;
  const double m = sum / static_cast<double>(size_);
  double squares = 0.0;
  for (std::size_t i = 0; i < size_; ++i) squares += (buffer_[i] - m) * (buffer_[i] - m);
  return std::sqrt(squares / static_cast<double>(size_));
}

}  // namespace varnok::frame
