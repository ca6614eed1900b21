#pragma once

#include <string>
#include <vector>

#include "corvex/ordered_map.h"

namespace corvex {

// One input-to-output path: K(s)·e^(−D·s), with coefficients in descending
// powers of s. An integrating path is the transfer function followed by 1/s.
struct TransferPath {
  std::string mode = "tf_s";
  std::vector<double> num_s;
  std::vector<double> den_s;
  double iodelay_s = 0.0;  // seconds, need not be a multiple of the period
  bool integral = false;   // "IntegralMark" 1
};

// Input tag (MV or DV) -> path, in order.
using InputPaths = OrderedMap<TransferPath>;

// CV tag -> its input paths. Inputs absent from a CV have no effect on it.
using PlantDescription = OrderedMap<InputPaths>;

}  // namespace corvex
