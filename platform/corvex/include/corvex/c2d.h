#pragma once

#include <string_view>
#include <utility>
#include <vector>

namespace corvex {

// Discrete numerator and denominator in ascending powers of z^-1,
// den[0] == 1, dead time included in the numerator's leading zeros.
struct DiscreteTransferFunction {
  std::vector<double> num;
  std::vector<double> den;
};

// Zero-order-hold equivalent of num(s)/den(s)·e^(−delay·s) at period Ts.
// Filtering a sequence with the result (difference equation, from rest)
// gives the exact samples of the continuous response to the held sequence.
// Samples are taken at the instants the held input switches, so a
// feedthrough acts in the same sample (MIMOSim, which returns a period's end
// before the next input is known, applies it one period later).
// Only method "zoh" exists; others throw std::invalid_argument, as do the
// argument faults MIMOSim refuses.
DiscreteTransferFunction c2d(const std::vector<double>& num, const std::vector<double>& den, double delay,
                             double Ts, std::string_view method = "zoh");

}  // namespace corvex
