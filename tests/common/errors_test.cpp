#include "varnok/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace varnok {
namespace {

TEST(ExitCode, BadInputIsTwoEverythingElseOne) {
  EXPECT_EQ(exit_code(UsageError("x")), kExitBadInput);
  EXPECT_EQ(exit_code(SetupError("x")), kExitBadInput);
  EXPECT_EQ(exit_code(RunError("x")), kExitFailure);
  EXPECT_EQ(exit_code(std::runtime_error("x")), kExitFailure);
  EXPECT_EQ(exit_code(std::bad_alloc()), kExitFailure);
}

}  // namespace
}  // namespace varnok
