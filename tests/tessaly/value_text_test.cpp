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
  const struct {
    hublet::ValueRecord record;
    std::string text;
  } cases[] = {
      {record(std::int64_t{29}), "29"},
      {record(29.0), "29.0"},
      {record(0.1), "0.1"},
      {record(0.0001), "0.0001"},
      {record(1e-05), "1e-05"},
      {record(1e16), "1e+16"},
      {record(31.124578818168377), "31.124578818168377"},
      {record(true), "True"},
      {record(false), "False"},
      {record(std::string("running")), "running"},
      {record(std::monostate{}), "-"},
      {record(std::uint64_t{18446744073709551615u}), "18446744073709551615"},
      {record(std::int64_t{-9223372036854775807 - 1}), "-9223372036854775808"},
      {record(hublet::DateTime{134168420461230000}), "2026-03-01T12:34:06.123Z"},
  };
  // The same text into one string reused from value to value, as polls do.
  std::string reused = "a longer text left from an earlier value";
  for (const auto& c : cases) {
    EXPECT_EQ(value_text(c.record), c.text);
    assign_value_text(c.record, reused);
    EXPECT_EQ(reused, c.text);
  }
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
