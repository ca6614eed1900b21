#include "anti_windup_limiter.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace varnok::brinell {
namespace {

// min(max(x, lo), hi), returning whichever argument wins, kind included.
corvex::Value clamp(const corvex::Value& x, const corvex::Value& hi, const corvex::Value& lo) {
  const corvex::Value& floored = lo.to_double() > x.to_double() ? lo : x;
  return hi.to_double() < floored.to_double() ? hi : floored;
}

}  // namespace

corvex::Value AntiWindupLimter::operator()(const corvex::Value& u, const corvex::Value& HI,
                                           const corvex::Value& LO) {
  const double input = u.to_double();
  if (!std::isfinite(input))
    throw std::invalid_argument("AntiWindupLimter: input is not a finite number: " + corvex::to_text(input));
  if (std::isnan(HI.to_double()) || std::isnan(LO.to_double()))
    throw std::invalid_argument("AntiWindupLimter: limit is NaN (HI " + corvex::to_text(HI) + ", LO " +
                                corvex::to_text(LO) + ")");

  const double u0 = _u0.value_or(input);
  const corvex::Value y0 = _y0.value_or(clamp(corvex::Value(input), HI, LO));
  const double delta_u = input - u0;
  const corvex::Value y = clamp(corvex::Value(y0.to_double() + delta_u), HI, LO);
  _u0 = input;
  _y0 = y;
  return y;
}

}  // namespace varnok::brinell
