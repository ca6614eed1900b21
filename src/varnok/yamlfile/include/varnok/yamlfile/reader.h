#pragma once

// The checks every YAML file of ours makes of its nodes. A file's reader
// derives from Reader and turns each fault into a FileError at the node it
// is about.

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "varnok/yamlfile/file_error.h"

namespace varnok::yamlfile {

// Text from a file as a message shows it: on one line, control characters
// escaped, and cut when long.
std::string one_line(std::string_view text);

// The same in double quotes.
std::string in_quotes(std::string_view text);

// The whole file as text; SetupError "PATH: cannot read the WHAT" when it
// cannot be read.
std::string read_text_file(const std::filesystem::path& path, std::string_view what);

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  const std::string& file() const noexcept { return file_; }

 protected:
  // The document in text; text that is not YAML fails at the parser's position.
  YAML::Node load(const std::string& text) const;

  static Position at(const YAML::Mark& mark);

  // A null value (an empty entry) has no useful position of its own; the key
  // before it stands in, see remember_key.
  FileError fail(const YAML::Node& node, const std::string& reason) const;
  FileError fail_at(Position where, const std::string& reason) const;

  // Refuses a key not in `allowed` and one given twice (YAML itself allows that).
  void only_keys(const YAML::Node& map, std::initializer_list<std::string_view> allowed);

  // A key's text; it becomes the position of messages about a null value.
  std::string key_text(const YAML::Node& key);

  YAML::Node required(const YAML::Node& map, const char* key);

  // Positions the messages about a null value at its key.
  void remember_key(const YAML::Node& map, std::string_view key);

  // The value of `key` when given, else an undefined node.
  YAML::Node member(const YAML::Node& map, std::string_view key);

  std::string text_of(const YAML::Node& node, std::string_view what);

  // Decimal numbers as the command lines read them, plus YAML's .inf and
  // .nan; every number must be finite.
  double number(const YAML::Node& node, std::string_view what);
  double non_negative(const YAML::Node& node, std::string_view what);

  // Decimal digits only (no point, exponent or quotes), at least `min`.
  std::int64_t whole_number(const YAML::Node& node, std::string_view what, std::int64_t min);

  bool flag(const YAML::Node& node, std::string_view what);

 private:
  std::string file_;
  Position last_key_;
};

}  // namespace varnok::yamlfile
