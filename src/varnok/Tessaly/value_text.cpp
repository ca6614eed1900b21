#include "value_text.h"

#include <charconv>
#include <string>
#include <string_view>

#include "corvex/value.h"
#include "varnok/number_text.h"

namespace varnok::tessaly {

namespace {

// Writes a value's text into a string that keeps its storage.
struct TextInto {
  std::string& out;
  void operator()(std::monostate) const { out.assign(1, '-'); }
  void operator()(bool v) const { out.assign(v ? std::string_view("True") : std::string_view("False")); }
  void operator()(std::int64_t v) const { integer(v); }
  void operator()(double v) const {
    char text[corvex::kMaxNumberText];
    out.assign(text, corvex::write_text(v, text));
  }
  void operator()(const std::string& v) const { out = v; }
  void operator()(std::uint64_t v) const { integer(v); }
  void operator()(hublet::DateTime v) const { out = hublet::date_time_text(v); }
  template <typename I>
  void integer(I v) const {
    char text[24];
    out.assign(text, std::to_chars(text, text + sizeof text, v).ptr);
  }
};

}  // namespace

std::string value_text(const hublet::ValueRecord& record) {
  std::string text;
  assign_value_text(record, text);
  return text;
}

void assign_value_text(const hublet::ValueRecord& record, std::string& out) {
  std::visit(TextInto{out}, record.value);
}

std::optional<double> value_as_double(const hublet::ValueRecord& record) {
  // A bad status may come with the last value the server had: not a measurement.
  if (hublet::is_bad_status(record.status_code)) return std::nullopt;
  struct Visitor {
    std::optional<double> operator()(std::monostate) const { return std::nullopt; }
    std::optional<double> operator()(bool v) const { return v ? 1.0 : 0.0; }
    std::optional<double> operator()(std::int64_t v) const { return static_cast<double>(v); }
    std::optional<double> operator()(double v) const { return v; }
    std::optional<double> operator()(const std::string& v) const { return parse_number(v); }
    std::optional<double> operator()(std::uint64_t v) const { return static_cast<double>(v); }
    std::optional<double> operator()(hublet::DateTime) const { return std::nullopt; }
  };
  return std::visit(Visitor{}, record.value);
}

}  // namespace varnok::tessaly
