#include "corvex/pid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvex {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(PID, FirstAutomaticCallMovesByTheIntegralTermOnly) {
  PID pid(2.0);
  pid.setPIDParam(1.5, 20, 4, 10);
  EXPECT_DOUBLE_EQ(pid.run(1, 50, 40, 30), 30 + 1.5 * (2.0 / 20) * 10);
  EXPECT_DOUBLE_EQ(pid.run(1, 50, 40, 31.5), 33.0);
}

TEST(PID, RemovesOffsetOnFirstOrderPlantAfterSetpointStep) {
  // Exact discrete first-order plant, gain 2, time constant 20 periods.
  const double a = std::exp(-1.0 / 20);
  PID pid;
  pid.setPIDParam(1.0, 15, 2, 10);
  double pv = 0, op = 0;
  for (int k = 0; k < 600; ++k) {
    op = pid.run(1, 10, pv, op);
    pv = a * pv + (1 - a) * 2 * op;
  }
  EXPECT_NEAR(pv, 10, 1e-6);
  EXPECT_NEAR(op, 5, 1e-6);
}

TEST(PID, OutputStaysInsideLimitsWithoutWindUp) {
  PID pid;
  pid.setPIDParam(2, 5, 0, 10);
  pid.setOPHighLowLimit(60, 0);
  double op = 30;
  for (int k = 0; k < 200; ++k) {
    op = pid.run(1, 50, 40, op);
    ASSERT_LE(op, 60);
  }
  EXPECT_EQ(op, 60);
  // Error turns from +10 to −0.5: the output leaves the limit at once.
  EXPECT_DOUBLE_EQ(pid.run(1, 50, 50.5, op), 60 + 2 * ((-0.5 - 10) + 0.2 * -0.5));
  EXPECT_EQ(pid.run(1, 50, 200, op), 0);
}

TEST(PID, WithoutIntegralTimeOnlyErrorChangesMoveTheOutput) {
  for (const double ti : {0.0, -1.0}) {
    PID pid;
    pid.setPIDParam(3, ti, 0, 10);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(pid.run(1, 50, 40, 30), 30);
    EXPECT_DOUBLE_EQ(pid.run(1, 52, 40, 30), 36);
  }
}

TEST(PID, DerivativeOfPVMatchesHandCalculation) {
  // KP 2, TD 5, Ts 1, PV steps 4 -> 6 with SP 10.
  PID unfiltered;
  unfiltered.setPIDParam(2, 0, 5, 0);
  EXPECT_EQ(unfiltered.run(1, 10, 4, 50), 50);
  // P: 2·(4 − 6) = −4; D: d = 5·2 = 10, −2·10 = −20.
  EXPECT_DOUBLE_EQ(unfiltered.run(1, 10, 6, 50), 26);
  // d falls back to 0 at once.
  EXPECT_DOUBLE_EQ(unfiltered.run(1, 10, 6, 26), 46);

  PID filtered;
  filtered.setPIDParam(2, 0, 5, 10);  // Tf = 0.5
  filtered.run(1, 10, 4, 50);
  const double d2 = 5.0 * 2 / 1.5, d3 = 0.5 * d2 / 1.5;
  EXPECT_DOUBLE_EQ(filtered.run(1, 10, 6, 50), 50 - 4 - 2 * d2);
  EXPECT_DOUBLE_EQ(filtered.run(1, 10, 6, 30), 30 - 2 * (d3 - d2));
}

TEST(PID, ManualFollowsTrackingValueAndReturnsBumplessly) {
  PID pid;
  pid.setPIDParam(2, 10, 0, 10);
  EXPECT_EQ(pid.run(0, 50, 40, 30), 30);
  EXPECT_EQ(pid.run(0, 60, 40, 150), 100);
  EXPECT_EQ(pid.run(2, 60, 40, 30), 30);
  // The set-point change made in manual gives no proportional kick.
  EXPECT_DOUBLE_EQ(pid.run(1, 60, 40, 30), 30 + 2 * 0.1 * 20);
}

TEST(PID, NonFiniteInputReturnsLastOutputAndKeepsState) {
  PID pid, twin;
  for (PID* p : {&pid, &twin}) p->setPIDParam(2, 10, 3, 10);
  EXPECT_EQ(pid.run(1, kNaN, 40, 30), 30);
  double op = 30;
  for (int k = 0; k < 20; ++k) {
    const double pv = 40 + k;
    const double got = pid.run(1, 50, pv, op);
    EXPECT_EQ(got, twin.run(1, 50, pv, op));
    EXPECT_EQ(pid.run(1, 50, kNaN, 0), got);
    EXPECT_EQ(pid.run(1, 50, pv, std::numeric_limits<double>::infinity()), got);
    op = got;
  }
}

TEST(PID, TuningThatOverflowsToNaNKeepsTheLastOutput) {
  PID pid;
  pid.setPIDParam(1e308, 0, 1e308, 0);  // an unfiltered derivative: inf - inf below
  EXPECT_EQ(pid.run(1, 0, 0, 50), 50);
  EXPECT_EQ(pid.run(1, 2e10, 1e10, 50), 50);
  pid.setPIDParam(1, 0, 0, 10);
  EXPECT_EQ(pid.run(1, 1, 0, 50), 51) << "the state from before the NaN stays";
}

TEST(PID, RefusesBadSettings) {
  EXPECT_THROW(PID{0.0}, std::invalid_argument);
  EXPECT_THROW(PID{kNaN}, std::invalid_argument);
  PID pid;
  EXPECT_THROW(pid.setOPHighLowLimit(0, 100), std::invalid_argument);
  EXPECT_THROW(pid.setPIDParam(kNaN, 1, 0, 10), std::invalid_argument);
}

}  // namespace
}  // namespace corvex
