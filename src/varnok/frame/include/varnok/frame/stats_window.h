#pragma once

#include <cstddef>
#include <vector>

namespace varnok::frame {

// The last `capacity` values of a CV and their population standard
// deviation. A full window drops its oldest value. The deviation is
// recomputed from the values each time (two passes), so it cannot drift over
// days, and a window of equal values gives exactly 0.0.
class StatsWindow {
 public:
  static constexpr std::size_t kTenMinutes = 600;
  explicit StatsWindow(std::size_t capacity = kTenMinutes);

  void append(double value);
  double population_std() const;
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return buffer_.size(); }

 private:
  std::vector<double> buffer_;
  std::size_t next_ = 0;
  std::size_t size_ = 0;
};

}  // namespace varnok::frame
