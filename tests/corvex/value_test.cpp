#include "corvex/value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <limits>
#include <random>

namespace corvex {
namespace {

TEST(ValueText, FormatsLikePythonRepr) {
  const std::pair<double, const char*> cases[] = {
      {29.0, "29.0"},
      {0.1, "0.1"},
      {31.123, "31.123"},
      {-2.5, "-2.5"},
      {100.0, "100.0"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-07, "1e-07"},
      {1.5e-5, "1.5e-05"},
      {0.0001, "0.0001"},
      {0.00012, "0.00012"},
      {1e15, "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {1e100, "1e+100"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {-std::numeric_limits<double>::quiet_NaN(), "nan"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(to_text(value), text);
}

TEST(ValueText, IntegersArePlainAndDoublesKeepTheirKind) {
  EXPECT_EQ(to_text(Value(29)), "29");
  EXPECT_EQ(to_text(Value(-5)), "-5");
  EXPECT_EQ(to_text(Value(std::numeric_limits<std::int64_t>::max())), "9223372036854775807");
  EXPECT_EQ(to_text(Value(29.0)), "29.0");
}

TEST(ValueText, ReadsBackBitForBit) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const double x = std::bit_cast<double>(rng());
    if (!std::isfinite(x)) continue;
    const std::string text = to_text(x);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)),
              std::bit_cast<std::uint64_t>(x))
        << text;
  }
}

TEST(ValueCompare, SameAsNeedsKindAndBitsWhileEqualityIsNumeric) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(Value(29) == Value(29.0));
  EXPECT_FALSE(Value(29).same_as(Value(29.0)));
  EXPECT_TRUE(Value(29).same_as(Value(29)));
  EXPECT_FALSE(Value(0.0).same_as(Value(-0.0)));
  EXPECT_TRUE(Value(0.0) == Value(-0.0));
  EXPECT_TRUE(Value(nan).same_as(Value(nan)));
  EXPECT_FALSE(Value(nan) == Value(nan));
  EXPECT_FALSE(Value(1.0).same_as(Value(std::nextafter(1.0, 2.0))));
}

TEST(OrderedMap, KeepsInsertionOrderAndOverwritesInPlace) {
  ValueMap map{{"b", 1}, {"a", 2.5}};
  map.set("c", 3);
  map.set("b", 10);
  map["d"];
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"b", "a", "c", "d"}));
  EXPECT_TRUE(map.at("b").same_as(Value(10)));
  EXPECT_TRUE(map.at("d").same_as(Value(0.0)));

  map.merge(ValueMap{{"e", 5}, {"a", 7}});
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"b", "a", "c", "d", "e"}));
  EXPECT_EQ(map.at("a").to_double(), 7.0);
  EXPECT_EQ(map.find("zz"), nullptr);
  EXPECT_FALSE(map.contains("zz"));
}

TEST(OrderedMap, MissingKeyNamesTheKey) {
  const ValueMap map{{"a", 1}};
  try {
    map.at("FIC101.PV");
    FAIL() << "no throw";
  } catch (const MissingKey& e) {
    EXPECT_EQ(e.key(), "FIC101.PV");
    EXPECT_NE(std::string(e.what()).find("FIC101.PV"), std::string::npos);
  }
}

}  // namespace
}  // namespace corvex
