#include "varnok/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "varnok/cli.h"

namespace varnok {
namespace {

TEST(ParseNumber, AcceptsWhatAFloatLiteralAccepts) {
  EXPECT_EQ(parse_number(" 12.5 "), 12.5);
  EXPECT_EQ(parse_number("\t-3e2\n"), -300.0);
  EXPECT_EQ(parse_number("+4"), 4.0);
  EXPECT_EQ(parse_number(".5"), 0.5);
  EXPECT_EQ(parse_number("010"), 10.0);
  EXPECT_EQ(parse_number("-Infinity"), -INFINITY);
  EXPECT_EQ(parse_number("inf"), INFINITY);
  EXPECT_TRUE(std::isnan(*parse_number("NaN")));
  EXPECT_EQ(parse_number("1e400"), INFINITY);
  EXPECT_EQ(parse_number("1e-400"), 0.0);
}

TEST(ParseNumber, RefusesEverythingElse) {
  for (const char* text : {"", "   ", "abc", "1.5abc", "0x10", "0x1p3", "1,5", "--1", "+-1", "-+1", "+", "e5",
                           "12 5", "nan nan", "-inf5"}) {
    EXPECT_FALSE(parse_number(text).has_value()) << '"' << text << '"';
  }
}

TEST(ParseWholeNumber, DecimalDigitsWithinInt64Only) {
  EXPECT_EQ(parse_whole_number(" 22210 "), 22210);
  EXPECT_EQ(parse_whole_number("+7"), 7);
  EXPECT_EQ(parse_whole_number("-7"), -7);
  EXPECT_EQ(parse_whole_number("010"), 10);  // not octal
  EXPECT_EQ(parse_whole_number("9223372036854775807"), INT64_MAX);
  for (const char* text : {"", "0x10", "1.0", "1e3", "+-1", "++1", "9223372036854775808", "1 2", "inf"}) {
    EXPECT_FALSE(parse_whole_number(text).has_value()) << '"' << text << '"';
  }
}

TEST(ParseUnsignedWholeNumber, DecimalDigitsWithinUInt64Only) {
  EXPECT_EQ(parse_unsigned_whole_number(" 18446744073709551615 "), UINT64_MAX);
  EXPECT_EQ(parse_unsigned_whole_number("+9223372036854775808"), 9223372036854775808u);
  EXPECT_EQ(parse_unsigned_whole_number("007"), 7u);
  for (const char* text :
       {"", "-1", "-0", "18446744073709551616", "+-1", "++1", "1.0", "1e3", "0x10", "1 2", "inf"}) {
    EXPECT_FALSE(parse_unsigned_whole_number(text).has_value()) << '"' << text << '"';
  }
}

TEST(ParseNumber, ThrowingFormsNameTheValueAndWhatWasExpected) {
  try {
    number_or_throw("0x10", "--set MV1");
    FAIL() << "no error";
  } catch (const UsageError& e) {
    EXPECT_STREQ(
        e.what(),
        "--set MV1: \"0x10\" is not a number (expected a decimal number such as 12.5, -3e2, inf or nan)");
  }
  EXPECT_THROW(whole_number_or_throw("1.5", "--port"), UsageError);
  EXPECT_EQ(whole_number_or_throw("5", "--port"), 5);
}

// CLI11 alone would read 0x10 as 16 and 010 as 8.
TEST(CommandLineNumbers, OptionsGoThroughTheSameParser) {
  struct Case {
    const char* text;
    bool ok;
    int port;
    double speed;
  };
  const Case cases[] = {
      {"--port 010 --speed 2.5", true, 10, 2.5},
      {"--port 0x10", false, 0, 0},
      {"--speed 0x1p3", false, 0, 0},
      {"--speed nan", false, 0, 0},
      {"--speed 1e1", true, 1, 10},
      {"--port 1e3", false, 0, 0},
  };
  for (const Case& c : cases) {
    int port = 1;
    double speed = 1.0;
    CLI::App app;
    app.add_option("--port", port)->transform(cli::whole_number());
    app.add_option("--speed", speed)->transform(cli::decimal_number());
    bool parsed = true;
    try {
      app.parse(c.text, false);
    } catch (const CLI::ParseError&) {
      parsed = false;
    }
    EXPECT_EQ(parsed, c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(port, c.port) << c.text;
      EXPECT_EQ(speed, c.speed) << c.text;
    }
  }
}

TEST(CommandLineNumbers, RangesReadAsTheUserWouldSayThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"--steps 0", "--steps: 0 is less than 1"},
      {"--port 70000", "--port: 70000 is not in 1..65535"},
      {"--speed 0", "--speed: 0 is not a positive number"},
      {"--speed -1e-3", "--speed: -0.001 is not a positive number"},
      {"--seconds 3e6", "--seconds: 3000000 is not in 0..2000000"},
      {"--seconds -0.5", "--seconds: -0.5 is not in 0..2000000"},
      {"--gain 1e300", "--gain: 1e+300 is more than 100"},
      {"--gain -1", "--gain: -1 is not more than 0.5"},
  };
  for (const auto& [args, message] : cases) {
    std::int64_t steps = 1;
    int port = 1;
    double speed = 1;
    double seconds = 0;
    double gain = 1;
    CLI::App app;
    app.add_option("--steps", steps)->transform(cli::whole_number(1));
    app.add_option("--port", port)->transform(cli::whole_number(1, 65535));
    app.add_option("--speed", speed)->transform(cli::positive_number());
    app.add_option("--seconds", seconds)->transform(cli::decimal_number(0, 2e6));
    app.add_option("--gain", gain)->transform(cli::decimal_number(0.5, 100, cli::Lower::kExcluded));
    try {
      app.parse(args, false);
      ADD_FAILURE() << args << " was taken";
    } catch (const CLI::ParseError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  // The bounds themselves are taken, or not, as asked.
  for (const char* args : {"--seconds 0", "--seconds 2e6", "--speed 1e-300", "--gain 100"}) {
    double speed = 1;
    double seconds = 0;
    double gain = 1;
    CLI::App app;
    app.add_option("--speed", speed)->transform(cli::positive_number());
    app.add_option("--seconds", seconds)->transform(cli::decimal_number(0, 2e6));
    app.add_option("--gain", gain)->transform(cli::decimal_number(0.5, 100, cli::Lower::kExcluded));
    EXPECT_NO_THROW(app.parse(args, false)) << args;
  }
}

}  // namespace
}  // namespace varnok
