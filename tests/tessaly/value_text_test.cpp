#include "value_text.h"

#include <gtest/gtest.h>

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

TEST(ValueAsDouble, NumbersTruthValuesAndNumericTextOnly) {
  EXPECT_EQ(value_as_double(record(true)), 1.0);
  EXPECT_EQ(value_as_double(record(std::int64_t{-7})), -7.0);
  EXPECT_EQ(value_as_double(record(std::string(" 2.5"))), 2.5);
  EXPECT_FALSE(value_as_double(record(std::string("open"))).has_value());
  EXPECT_FALSE(value_as_double(record(std::monostate{})).has_value());
}

}  // namespace
}  // namespace varnok::tessaly
