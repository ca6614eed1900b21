#include "value_text.h"

#include <string>

#include "corvex/value.h"
#include "varnok/number_text.h"

namespace varnok::tessaly {

std::string value_text(const hublet::ValueRecord& record) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "-"; }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return corvex::to_text(v); }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(std::uint64_t v) const { return std::to_string(v); }
    std::string operator()(hublet::DateTime v) const { return hublet::date_time_text(v); }
  };
  return std::visit(Visitor{}, record.value);
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
