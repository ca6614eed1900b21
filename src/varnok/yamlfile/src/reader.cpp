#include "varnok/yamlfile/reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "varnok/number_text.h"

namespace varnok::yamlfile {

namespace {

std::string join_names(std::initializer_list<std::string_view> names) {
  std::string out;
  for (const auto name : names) out += (out.empty() ? "" : ", ") + std::string(name);
  return out;
}

}  // namespace

std::string one_line(std::string_view text) {
  constexpr std::size_t kShown = 80;
  std::string out;
  for (const unsigned char c : text.substr(0, kShown)) {
    if (c < ' ' || c == 0x7f) {
      constexpr const char* kHex = "0123456789abcdef";
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 0xf]};
    } else {
      out += static_cast<char>(c);
    }
  }
  return text.size() > kShown ? out + "..." : out;
}

std::string in_quotes(std::string_view text) {
  // Appended, not "\"" + ...: GCC 12 sees a false overlap in that at -O3.
  std::string out(1, '"');
  out += one_line(text);
  out += '"';
  return out;
}

std::string read_text_file(const std::filesystem::path& path, std::string_view what) {
  const auto refuse = [&] { return SetupError(path.string() + ": cannot read the " + std::string(what)); };
  std::ifstream in(path);
  if (!in) throw refuse();
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw refuse();
  return text.str();
}

YAML::Node Reader::load(const std::string& text) const {
  try {
    return YAML::Load(text);
  } catch (const YAML::ParserException& e) {
    throw fail_at(at(e.mark), "not valid YAML: " + one_line(e.msg));
  }
}

Position Reader::at(const YAML::Mark& mark) {
  if (mark.is_null()) return {};
  return {mark.line + 1, mark.column + 1};
}

FileError Reader::fail(const YAML::Node& node, const std::string& reason) const {
  Position where = node.IsNull() ? last_key_ : at(node.Mark());
  if (where.line == 0) where = last_key_;
  return FileError(file_, where, reason);
}

FileError Reader::fail_at(Position where, const std::string& reason) const {
  return FileError(file_, where, reason);
}

void Reader::only_keys(const YAML::Node& map, std::initializer_list<std::string_view> allowed) {
  std::set<std::string> seen;
  for (const auto& entry : map) {
    const std::string key = key_text(entry.first);
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
      throw fail(entry.first,
                 "unknown key " + in_quotes(key) + " (expected one of: " + join_names(allowed) + ")");
    if (!seen.insert(key).second) throw fail(entry.first, "key " + in_quotes(key) + " given twice");
  }
}

std::string Reader::key_text(const YAML::Node& key) {
  if (!key.IsScalar()) throw fail(key, "a key must be a plain name");
  last_key_ = at(key.Mark());
  return key.Scalar();
}

YAML::Node Reader::required(const YAML::Node& map, const char* key) {
  const YAML::Node node = map[key];
  if (!node) throw fail(map, std::string("missing required key ") + in_quotes(key));
  remember_key(map, key);
  return node;
}

void Reader::remember_key(const YAML::Node& map, std::string_view key) {
  for (const auto& entry : map) {
    if (entry.first.IsScalar() && entry.first.Scalar() == key) last_key_ = at(entry.first.Mark());
  }
}

YAML::Node Reader::member(const YAML::Node& map, std::string_view key) {
  const YAML::Node node = map[std::string(key)];
  if (node) remember_key(map, key);
  return node;
}

std::string Reader::text_of(const YAML::Node& node, std::string_view what) {
  if (!node.IsScalar()) throw fail(node, std::string(what) + " must be text");
  return node.Scalar();
}

double Reader::number(const YAML::Node& node, std::string_view what) {
  if (!node.IsScalar()) throw fail(node, std::string(what) + " must be a number");
  std::string text = node.Scalar();
  // A quoted scalar is text, whatever it looks like.
  if (node.Tag() != "!") {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* special : {".inf", "+.inf", "-.inf", ".nan"}) {
      if (lower == special) text.erase(text.find('.'), 1);
    }
  }
  const auto value = node.Tag() == "!" ? std::nullopt : parse_number(text);
  if (!value) throw fail(node, std::string(what) + " must be a number, not " + in_quotes(node.Scalar()));
  if (!std::isfinite(*value)) throw fail(node, std::string(what) + " must be finite, not " + node.Scalar());
  return *value;
}

double Reader::non_negative(const YAML::Node& node, std::string_view what) {
  const double value = number(node, what);
  if (value < 0) throw fail(node, std::string(what) + " must not be negative, not " + node.Scalar());
  return value;
}

std::int64_t Reader::whole_number(const YAML::Node& node, std::string_view what, std::int64_t min) {
  const std::string expected =
      std::string(what) + " must be a whole number of at least " + std::to_string(min);
  if (!node.IsScalar()) throw fail(node, expected);
  const auto value = node.Tag() == "!" ? std::nullopt : parse_whole_number(node.Scalar());
  if (!value || *value < min) throw fail(node, expected + ", not " + in_quotes(node.Scalar()));
  return *value;
}

bool Reader::flag(const YAML::Node& node, std::string_view what) {
  bool value = false;
  if (!node.IsScalar() || !YAML::convert<bool>::decode(node, value))
    throw fail(node, std::string(what) + " must be true or false");
  return value;
}

}  // namespace varnok::yamlfile
