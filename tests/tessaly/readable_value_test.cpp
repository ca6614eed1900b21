#include "readable_value.h"

#include <gtest/gtest.h>

namespace varnok::tessaly {
namespace {

TEST(ReadableValue, LongNumbersAreRoundedEverythingElseStaysAsItIs) {
  const struct {
    const char* full;
    const char* shown;
  } cases[] = {
      {"31.124578818168377", "31.1246"},
      {"-0.00012345678", "-0.000123457"},
      {"123456789.5", "1.23457e+08"},
      {"1.2345678901234e-07", "1.23457e-07"},
      {"0.999999999", "1"},
      {"123456.7", "123457"},
      // Six digits or fewer: already readable.
      {"31.0", "31.0"},
      {"0.1", "0.1"},
      {"1e-05", "1e-05"},
      // Not a double's text: integers, truth values, text, dates.
      {"1234567890123", "1234567890123"},
      {"True", "True"},
      {"-", "-"},
      {"3.14 bar", "3.14 bar"},
      {"2026-12-09T21:45:03.123Z", "2026-12-09T21:45:03.123Z"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(readable_value_text(c.full), c.shown) << c.full;
}

}  // namespace
}  // namespace varnok::tessaly
