#pragma once

#include <optional>

#include "corvex/value.h"

namespace varnok::brinell {

// Keeps a published CV within [LO, HI] without winding up: each call moves
// the output by the input's increment since the previous call and clamps the
// result, so the output leaves a limit as soon as the input turns back,
// however far beyond the limit the input has gone. The first call returns the
// input clamped.
//
// A clamped result is the limit argument itself (so the integer 100 for the
// default HI); an unclamped one is a real. Limits are applied as
// min(max(x, LO), HI), so LO > HI yields HI.
class AntiWindupLimter {
 public:
  AntiWindupLimter() = default;

  // u is taken as a real. Throws std::invalid_argument, leaving the state as
  // it was, for a non-finite u or a NaN limit: either would poison every
  // later output.
  corvex::Value operator()(const corvex::Value& u, const corvex::Value& HI = 100,
                           const corvex::Value& LO = 0);
  corvex::Value run(const corvex::Value& u, const corvex::Value& HI = 100, const corvex::Value& LO = 0) {
    return (*this)(u, HI, LO);
  }

 private:
  std::optional<double> _u0;         // input of the previous call
  std::optional<corvex::Value> _y0;  // output of the previous call
};

}  // namespace varnok::brinell
