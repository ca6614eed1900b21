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
  EXPECT_EQ(value_text(record(std::uint64_t{18446744073709551615u})), "18446744073709551615");
  EXPECT_EQ(value_text(record(hublet::DateTime{134168420461230000})), "2026-03-01T12:34:06.123Z");
}

TEST(ValueAsDouble, NumbersTruthValuesAndNumericTextOnly) {
  EXPECT_EQ(value_as_double(record(true)), 1.0);
  EXPECT_EQ(value_as_double(record(std::int64_t{-7})), -7.0);
  EXPECT_EQ(value_as_double(record(std::string(" 2.5"))), 2.5);
  EXPECT_FALSE(value_as_double(record(std::string("open"))).has_value());
  EXPECT_FALSE(value_as_double(record(std::monostate{})).has_value());
  EXPECT_EQ(value_as_double(record(std::uint64_t{1ULL << 63})), 9223372036854775808.0);
  EXPECT_FALSE(value_as_double(record(hublet::DateTime{134168420461230000})).has_value());
}

TEST(ValueAsDouble, AValueCarriedWithABadStatusIsNotAMeasurement) {
  hublet::ValueRecord stale = record(31.5);
  stale.status_code = 0x80310000;  // BadNoCommunication, the last value kept
  EXPECT_FALSE(value_as_double(stale).has_value());
  stale.status_code = 0x40900000;  // UncertainLastUsableValue: still a value
  EXPECT_EQ(value_as_double(stale), 31.5);
}

}  // namespace
}  // namespace varnok::tessaly
