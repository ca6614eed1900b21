#include "value_text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnok::tessaly {
namespace {

hublet::ValueRecord record(decltype(hublet::ValueRecord::value) value) {
  hublet::ValueRecord r;
  r.value = std::move(value);
  return r;
}

TEST(ValueText, ReadsBackAndKeepsTheKindVisible) {
  EXPECT_EQ(value_text(record(std::int64_t{29})), "29");
  EXPECT_EQ(value_text(record(29.0)), "29.0");
  EXPECT_EQ(value_text(record(0.1)), "0.1");
  EXPECT_EQ(value_text(record(0.0001)), "0.0001");
  EXPECT_EQ(value_text(record(1e-05)), "1e-05");
  EXPECT_EQ(value_text(record(1e16)), "1e+16");
  EXPECT_EQ(value_text(record(31.124578818168377)), "31.124578818168377");
  EXPECT_EQ(value_text(record(true)), "True");
  EXPECT_EQ(value_text(record(false)), "False");
  EXPECT_EQ(value_text(record(std::string("running"))), "running");
  EXPECT_EQ(value_text(record(std::monostate{})), "-");
}

TEST(ParseDouble, AcceptsWhatAFloatLiteralAccepts) {
  EXPECT_EQ(parse_double(" 12.5 "), 12.5);
  EXPECT_EQ(parse_double("\t-3e2\n"), -300.0);
  EXPECT_EQ(parse_double("+4"), 4.0);
  EXPECT_EQ(parse_double(".5"), 0.5);
  EXPECT_EQ(parse_double("-Infinity"), -INFINITY);
  EXPECT_EQ(parse_double("inf"), INFINITY);
  EXPECT_TRUE(std::isnan(*parse_double("NaN")));
  EXPECT_EQ(parse_double("1e400"), INFINITY);
  EXPECT_EQ(parse_double("1e-400"), 0.0);
}

TEST(ParseDouble, RefusesEverythingElse) {
  for (const char* text : {"", "   ", "abc", "1.5abc", "0x10", "1,5", "--1", "+", "e5", "12 5", "nan nan"}) {
    EXPECT_FALSE(parse_double(text).has_value()) << '"' << text << '"';
  }
}

TEST(ValueAsDouble, NumbersTruthValuesAndNumericTextOnly) {
  EXPECT_EQ(value_as_double(record(true)), 1.0);
  EXPECT_EQ(value_as_double(record(std::int64_t{-7})), -7.0);
  EXPECT_EQ(value_as_double(record(std::string(" 2.5"))), 2.5);
  EXPECT_FALSE(value_as_double(record(std::string("open"))).has_value());
  EXPECT_FALSE(value_as_double(record(std::monostate{})).has_value());
}

}  // namespace
}  // namespace varnok::tessaly
