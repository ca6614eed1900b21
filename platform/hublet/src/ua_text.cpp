#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "ua_types.h"

namespace hublet::ua {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  const auto byte = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at]));
  };
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t n = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    for (int shift : {18, 12, 6, 0}) out += kBase64[(n >> shift) & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t n = byte(i) << 16;
    if (rest == 2) n |= byte(i + 1) << 8;
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += rest == 2 ? kBase64[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Padded base64 in its one canonical spelling (unused bits zero), so that
// every opaque id has exactly one text.
bool from_base64(std::string_view text, std::string& out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pad = i >= text.size() - padding;
    const int v = pad ? 0 : base64_value(text[i]);
    if (v < 0) return false;
    n = (n << 6) | static_cast<std::uint32_t>(v);
    if (i % 4 == 3) {
      bytes += static_cast<char>((n >> 16) & 0xFF);
      bytes += static_cast<char>((n >> 8) & 0xFF);
      bytes += static_cast<char>(n & 0xFF);
      n = 0;
    }
  }
  const std::uint32_t last = static_cast<std::uint32_t>(base64_value(text[text.size() - 1 - padding]));
  if ((padding == 1 && (last & 0x03) != 0) || (padding == 2 && (last & 0x0F) != 0)) return false;
  bytes.resize(bytes.size() - padding);
  out = std::move(bytes);
  return true;
}

template <typename U>
bool hex_field(std::string_view text, U& out) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;  // from_chars would take a sign
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
  return ec == std::errc() && end == text.data() + text.size();
}

// 8-4-4-4-12 hexadecimal digits, either case.
bool parse_guid(std::string_view text, Guid& out) {
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    return false;
  Guid g;
  if (!hex_field(text.substr(0, 8), g.data1) || !hex_field(text.substr(9, 4), g.data2) ||
      !hex_field(text.substr(14, 4), g.data3)) {
    return false;
  }
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t at = i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2);
    if (!hex_field(text.substr(at, 2), g.data4[i])) return false;
  }
  out = g;
  return true;
}

// Decimal digits only (no sign, no blanks) within U.
template <typename U>
bool decimal(std::string_view text, U& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string guid_text(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.data1, g.data2,
                g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
  return buf;
}

std::string identifier_text(const NodeId& id) {
  switch (id.kind) {
    case NodeId::Kind::kNumeric:
      return std::to_string(id.numeric);
    case NodeId::Kind::kString:
      return id.text;
    case NodeId::Kind::kGuid:
      return guid_text(id.guid);
    case NodeId::Kind::kOpaque:
      return base64(id.text);
  }
  return {};
}

std::string to_string(const NodeId& id) {
  std::string out;
  if (id.namespace_index != 0) out = "ns=" + std::to_string(id.namespace_index) + ";";
  static constexpr const char* kPrefix[] = {"i=", "s=", "g=", "b="};
  return out + kPrefix[static_cast<int>(id.kind)] + identifier_text(id);
}

bool parse_identifier(std::uint16_t ns, NodeId::Kind kind, std::string_view text, NodeId& out,
                      std::string& error) {
  NodeId id;
  id.namespace_index = ns;
  id.kind = kind;
  switch (kind) {
    case NodeId::Kind::kNumeric:
      if (!decimal(text, id.numeric)) {
        error = "a numeric identifier is decimal digits from 0 to 4294967295";
        return false;
      }
      break;
    case NodeId::Kind::kString:
      if (text.empty()) {
        error = "the string identifier is empty";
        return false;
      }
      id.text = text;
      break;
    case NodeId::Kind::kGuid:
      if (!parse_guid(text, id.guid)) {
        error = "a GUID identifier is 8-4-4-4-12 hexadecimal digits";
        return false;
      }
      break;
    case NodeId::Kind::kOpaque:
      if (!from_base64(text, id.text)) {
        error = "an opaque identifier is its bytes in padded base64 (A-Z a-z 0-9 + /, = at the end)";
        return false;
      }
      break;
  }
  out = std::move(id);
  return true;
}

bool parse_node_id(std::string_view text, NodeId& out, std::string& error) {
  std::uint16_t ns = 0;
  std::string_view rest = text;
  if (rest.starts_with("nsu=")) {
    error = "namespace URIs (nsu=) are not taken; give the namespace index, ns=N";
    return false;
  }
  if (rest.starts_with("ns=")) {
    const std::size_t semicolon = rest.find(';');
    if (semicolon == std::string_view::npos) {
      error = "\"ns=N\" must be followed by ';' and the identifier";
      return false;
    }
    if (!decimal(rest.substr(3, semicolon - 3), ns)) {
      error = "the namespace index is decimal digits from 0 to 65535";
      return false;
    }
    rest.remove_prefix(semicolon + 1);
  } else if (const std::size_t colon = rest.find(':');
             colon != std::string_view::npos && colon > 0 &&
             rest.substr(0, colon).find_first_not_of("0123456789") == std::string_view::npos) {
    // The short form NS:NAME always names a string identifier.
    if (!decimal(rest.substr(0, colon), ns)) {
      error = "the namespace index is decimal digits from 0 to 65535";
      return false;
    }
    return parse_identifier(ns, NodeId::Kind::kString, rest.substr(colon + 1), out, error);
  }
  static constexpr struct {
    std::string_view prefix;
    NodeId::Kind kind;
  } kTypes[] = {{"i=", NodeId::Kind::kNumeric},
                {"s=", NodeId::Kind::kString},
                {"g=", NodeId::Kind::kGuid},
                {"b=", NodeId::Kind::kOpaque}};
  for (const auto& t : kTypes) {
    if (rest.starts_with(t.prefix)) return parse_identifier(ns, t.kind, rest.substr(2), out, error);
  }
  error = "expected ns=N;i=DIGITS, ns=N;s=TEXT, ns=N;g=GUID, ns=N;b=BASE64 or N:TEXT";
  return false;
}

std::string to_iso8601(DateTime t) {
  using namespace std::chrono;
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kSecondsPerDay = 86400;
  // Floor division, so that times before 1601 count back correctly.
  std::int64_t seconds = t.ticks / kTicksPerSecond;
  std::int64_t fraction = t.ticks % kTicksPerSecond;
  if (fraction < 0) {
    fraction += kTicksPerSecond;
    --seconds;
  }
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    second_of_day += kSecondsPerDay;
    --days;
  }
  // 2^63 ticks are some 29000 years: within the years chrono counts.
  const year_month_day date{sys_days{year{1601} / January / 1} + std::chrono::days{days}};
  const int y = static_cast<int>(date.year());
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, y >= 0 && y <= 9999 ? "%04d" : "%+05d", y);
  n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "-%02u-%02uT%02d:%02d:%02d",
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
                     static_cast<int>(second_of_day % 60));
  std::string out(buf, static_cast<std::size_t>(n));
  if (fraction != 0) {
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%07d", static_cast<int>(fraction));
    std::string_view f(digits);
    while (f.ends_with('0')) f.remove_suffix(1);
    out += f;
  }
  return out + "Z";
}

}  // namespace hublet::ua
