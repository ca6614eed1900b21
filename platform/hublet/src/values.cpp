#include "values.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace hublet {

namespace {

std::string shortest_text(double v) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// A whole double within I, converted; false otherwise.
template <typename I>
bool integral_from(double v, I& out) {
  if (!std::isfinite(v) || std::trunc(v) != v) return false;
  constexpr double kLow = static_cast<double>(std::numeric_limits<I>::min());
  // max() + 1 is a power of two, exact in a double (max() itself may not be).
  constexpr double kHighExclusive = static_cast<double>(std::numeric_limits<I>::max() / 2 + 1) * 2.0;
  if (v < kLow || v >= kHighExclusive) return false;
  out = static_cast<I>(v);
  return true;
}

template <typename I>
HUBLET_STATUS integral_variant(const ExactValue& value, ua::Variant& out) {
  I converted{};
  const bool fits = std::visit(
      [&converted](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
          if (!std::in_range<I>(v)) return false;
          converted = static_cast<I>(v);
          return true;
        } else if constexpr (std::is_same_v<T, double>) {
          return integral_from(v, converted);
        } else {
          return false;  // true/false and text are not integers
        }
      },
      value);
  if (!fits) return HUBLET_STATUS_VALUE_DOES_NOT_FIT;
  out.value = converted;
  return HUBLET_STATUS_GOOD;
}

// Integers and doubles as the nearest double; none for true/false and text.
std::optional<double> as_double(const ExactValue& value) {
  return std::visit(
      [](const auto& v) -> std::optional<double> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t> ||
                      std::is_same_v<T, double>) {
          return static_cast<double>(v);
        } else {
          return std::nullopt;
        }
      },
      value);
}

HUBLET_STATUS boolean_variant(const ExactValue& value, ua::Variant& out) {
  std::optional<bool> b;
  if (const bool* x = std::get_if<bool>(&value)) {
    b = *x;
  } else if (!std::holds_alternative<std::string>(value)) {
    // Only 0 and 1 are truth values among numbers.
    const double d = *as_double(value);
    if (d == 0.0 || d == 1.0) b = d == 1.0;
  }
  if (!b) return HUBLET_STATUS_VALUE_DOES_NOT_FIT;
  out.value = *b;
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS float_variant(const ExactValue& value, ua::Variant& out) {
  const std::optional<double> d = as_double(value);
  // Rounded to the nearest Float; out of its range is refused.
  if (!d || (std::isfinite(*d) && std::fabs(*d) > static_cast<double>(std::numeric_limits<float>::max())))
    return HUBLET_STATUS_VALUE_DOES_NOT_FIT;
  // An integer goes to the nearest Float directly: through a double it
  // could be rounded twice.
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    out.value = static_cast<float>(*i);
  } else if (const auto* u = std::get_if<std::uint64_t>(&value)) {
    out.value = static_cast<float>(*u);
  } else {
    out.value = static_cast<float>(*d);
  }
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS string_variant(const ExactValue& value, ua::Variant& out) {
  std::optional<std::string> text = std::visit(
      [](const auto& v) -> std::optional<std::string> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return shortest_text(v);
        } else {
          return std::nullopt;  // a truth value has no one text
        }
      },
      value);
  if (!text) return HUBLET_STATUS_VALUE_DOES_NOT_FIT;
  out.value = std::move(*text);
  return HUBLET_STATUS_GOOD;
}

}  // namespace

ValueRecord to_record(const ua::DataValue& dv) {
  ValueRecord record;
  record.status_code = dv.status ? dv.status->code : 0;
  if (!dv.value) return record;
  const ua::Variant& v = *dv.value;
  record.data_type = static_cast<HUBLET_DATATYPE>(v.type());
  if (v.is_array) {
    record.array_length = static_cast<int>(v.array.size());
    return record;
  }
  std::visit(
      [&record](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, bool>) {
          record.value = x;
        } else if constexpr (std::is_same_v<T, std::uint64_t>) {
          if (std::in_range<std::int64_t>(x)) {
            record.value = static_cast<std::int64_t>(x);
          } else {
            record.value = x;
          }
        } else if constexpr (std::is_integral_v<T>) {
          record.value = static_cast<std::int64_t>(x);
        } else if constexpr (std::is_floating_point_v<T>) {
          record.value = static_cast<double>(x);
        } else if constexpr (std::is_same_v<T, std::string>) {
          record.value = x;
        } else if constexpr (std::is_same_v<T, ua::DateTime>) {
          record.value = DateTime{x.ticks};
        } else if constexpr (std::is_same_v<T, ua::ByteString>) {
          record.value = x.bytes;
        } else if constexpr (std::is_same_v<T, ua::XmlElement>) {
          record.value = x.text;
        } else if constexpr (std::is_same_v<T, ua::LocalizedText>) {
          record.value = x.text.value_or("");
        } else if constexpr (std::is_same_v<T, ua::QualifiedName>) {
          record.value = x.name;
        } else if constexpr (std::is_same_v<T, ua::NodeId>) {
          record.value = ua::to_string(x);
        } else if constexpr (std::is_same_v<T, ua::ExpandedNodeId>) {
          record.value = ua::to_string(x.node_id);
        } else if constexpr (std::is_same_v<T, ua::Guid>) {
          record.value = ua::guid_text(x);
        } else if constexpr (std::is_same_v<T, ua::StatusCode>) {
          record.value = ua::status_text(x.code);
        }
      },
      v.value);
  return record;
}

HUBLET_STATUS to_variant(const ExactValue& value, int type, ua::Variant& out) {
  out = ua::Variant{};
  switch (type) {
    case HUBLET_DATATYPE_BOOLEAN:
      return boolean_variant(value, out);
    case HUBLET_DATATYPE_SBYTE:
      return integral_variant<std::int8_t>(value, out);
    case HUBLET_DATATYPE_BYTE:
      return integral_variant<std::uint8_t>(value, out);
    case HUBLET_DATATYPE_INT16:
      return integral_variant<std::int16_t>(value, out);
    case HUBLET_DATATYPE_UINT16:
      return integral_variant<std::uint16_t>(value, out);
    case HUBLET_DATATYPE_INT32:
      return integral_variant<std::int32_t>(value, out);
    case HUBLET_DATATYPE_UINT32:
      return integral_variant<std::uint32_t>(value, out);
    case HUBLET_DATATYPE_INT64:
      return integral_variant<std::int64_t>(value, out);
    case HUBLET_DATATYPE_UINT64:
      return integral_variant<std::uint64_t>(value, out);
    case HUBLET_DATATYPE_FLOAT:
      return float_variant(value, out);
    case HUBLET_DATATYPE_DOUBLE: {
      const std::optional<double> d = as_double(value);
      if (!d) return HUBLET_STATUS_VALUE_DOES_NOT_FIT;
      out.value = *d;
      return HUBLET_STATUS_GOOD;
    }
    case HUBLET_DATATYPE_STRING:
      return string_variant(value, out);
    default:
      return HUBLET_STATUS_UNSUPPORTED;
  }
}

std::string exact_value_text(const ExactValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, double>) {
          return shortest_text(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return "\"" + v + "\"";
        } else {
          return std::to_string(v);
        }
      },
      value);
}

std::string date_time_text(DateTime t) {
  return ua::to_iso8601(ua::DateTime{t.ticks});
}

}  // namespace hublet
