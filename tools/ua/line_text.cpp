#include "line_text.h"

#include <cstdio>

#include "corvex/value.h"
#include "varnok/number_text.h"

namespace varnok::ua {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "\q is not an escape"; out of line, where GCC 12 does not mistake the
// short concatenation for an overlapping copy.
[[gnu::noinline]] std::string escape_named(char c) {
  std::string out(1, '\\');
  out += c;
  out += " is not an escape";
  return out;
}

}  // namespace

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::optional<std::string> unescape(std::string_view text, std::string& error) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (next) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 'x': {
        const int high = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
        const int low = i + 3 < text.size() ? hex_digit(text[i + 3]) : -1;
        if (high < 0 || low < 0) {
          error = "\\x must be followed by two hexadecimal digits";
          return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        error = i + 1 < text.size() ? escape_named(next) : std::string("a lone \\ at the end");
        error += " (write \\\\ for a backslash)";
        return std::nullopt;
    }
    ++i;
  }
  return out;
}

std::optional<std::string> value_text(const hublet::ValueRecord& record) {
  return std::visit(
      [](const auto& v) -> std::optional<std::string> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return corvex::to_text(v);
        } else if constexpr (std::is_same_v<T, hublet::DateTime>) {
          return hublet::date_time_text(v);
        } else {
          return escape(v);
        }
      },
      record.value);
}

std::string missing_value_reason(const hublet::ValueRecord& record) {
  const std::string type = hublet::data_type_name(record.data_type);
  if (record.array_length >= 0) {
    return "an array of " + std::to_string(record.array_length) + " " + type +
           ", which varnok-ua does not show";
  }
  if (record.data_type == hublet::HUBLET_DATATYPE_UNKNOWN) return "no value";
  return "a value of type " + type + ", which varnok-ua does not show";
}

hublet::ExactValue value_from_text(const std::string& text) {
  if (text == "True" || text == "true") return true;
  if (text == "False" || text == "false") return false;
  if (const auto whole = parse_whole_number(text)) {
    // "-0" is a number a Double can hold; an integer node takes it as 0.
    if (*whole == 0 && text.find('-') != std::string::npos) return -0.0;
    return *whole;
  }
  if (const auto big = parse_unsigned_whole_number(text)) return *big;
  if (const auto number = parse_number(text)) return *number;
  return text;
}

}  // namespace varnok::ua
