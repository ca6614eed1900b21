// varnok-ua's text rules without a server: one node stays one line, what it
// prints reads back, and VALUE keeps integers exact.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "line_text.h"

namespace varnok::ua {
namespace {

TEST(LineText, ControlCharactersAreEscapedAndReadBack) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"S1.MV1", "S1.MV1"},
      {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {"C:\\dir\\", "C:\\\\dir\\\\"},
      {std::string("\x00\x01\x1f\x7f", 4), "\\x00\\x01\\x1F\\x7F"},
      {"\\t is not a tab", "\\\\t is not a tab"},
      {"温度 ü", "温度 ü"},  // UTF-8 stands as it is
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(escape(c.text), c.escaped);
    EXPECT_EQ(escape(c.text).find_first_of("\t\n\r"), std::string::npos);
    std::string error;
    EXPECT_EQ(unescape(c.escaped, error), c.text) << c.escaped << ": " << error;
  }
  std::string error;
  EXPECT_EQ(unescape("\\x4a\\x4A", error), "JJ") << "either case";
  for (const auto& [bad, reason] :
       {std::pair{"\\q", "\\q is not an escape"}, std::pair{"end\\", "a lone \\"},
        std::pair{"\\x4", "two hexadecimal digits"}, std::pair{"\\xg0", "two hexadecimal digits"}}) {
    EXPECT_FALSE(unescape(bad, error).has_value()) << bad;
    EXPECT_NE(error.find(reason), std::string::npos) << bad << ": " << error;
  }
}

TEST(LineText, ValuesTypedKeepTheirKindAndIntegersStayExact) {
  const struct {
    std::string text;
    hublet::ExactValue value;
  } cases[] = {
      {"9007199254740993", std::int64_t{9007199254740993}},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {" 42 ", std::int64_t{42}},
      {"18446744073709551616", 18446744073709551616.0},
      {"12.5", 12.5},
      {"-0", -0.0},
      {"1e3", 1000.0},
      {"True", true},
      {"false", false},
      {"TRUE", std::string("TRUE")},
      {"0x10", std::string("0x10")},
      {"", std::string("")},
  };
  for (const auto& c : cases) EXPECT_EQ(value_from_text(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::signbit(std::get<double>(value_from_text("-0"))));
  EXPECT_TRUE(std::isnan(std::get<double>(value_from_text("nan"))));
}

TEST(LineText, ValueTextForEveryKindAndAReasonWhenThereIsNone) {
  hublet::ValueRecord r;
  const struct {
    decltype(r.value) value;
    const char* text;
  } cases[] = {
      {true, "True"},
      {std::int64_t{-7}, "-7"},
      {std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
      {29.0, "29.0"},
      {0.1, "0.1"},
      {std::string("a\tb"), "a\\tb"},
      {hublet::DateTime{0}, "1601-01-01T00:00:00Z"},
  };
  for (const auto& c : cases) {
    r.value = c.value;
    EXPECT_EQ(value_text(r), c.text);
  }
  r.value = std::monostate{};
  EXPECT_EQ(value_text(r), std::nullopt);
  r.data_type = hublet::HUBLET_DATATYPE_DOUBLE;
  r.array_length = 3;
  EXPECT_EQ(missing_value_reason(r), "an array of 3 Double, which varnok-ua does not show");
  r.array_length = -1;
  r.data_type = hublet::HUBLET_DATATYPE_EXTENSIONOBJECT;
  EXPECT_EQ(missing_value_reason(r), "a value of type ExtensionObject, which varnok-ua does not show");
  r.data_type = hublet::HUBLET_DATATYPE_UNKNOWN;
  EXPECT_EQ(missing_value_reason(r), "no value");
}

}  // namespace
}  // namespace varnok::ua
