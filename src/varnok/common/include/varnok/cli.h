#pragma once

// What every command-line program shares on top of CLI11: numbers read by
// our one parser (CLI11 alone would take 0x10, 010 as octal, and hex
// floats), and the exit for a command line it refused.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "varnok/errors.h"
#include "varnok/number_text.h"

namespace varnok::cli {

// Options that take numbers: the text must be decimal (and, for an option,
// finite: no setting of ours means NaN); CLI11 then converts the canonical
// form we hand it.
inline CLI::Validator decimal_number() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const auto value = parse_number(text);
        if (!value || !std::isfinite(*value)) return "\"" + text + "\" is not a finite decimal number";
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value);
        text.assign(buffer, end);
        return {};
      },
      "");
}

inline CLI::Validator whole_number(std::int64_t min = INT64_MIN, std::int64_t max = INT64_MAX) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        const auto value = parse_whole_number(text);
        if (!value) return "\"" + text + "\" is not a whole decimal number";
        if (*value < min || *value > max) {
          if (max == INT64_MAX) return std::to_string(*value) + " is less than " + std::to_string(min);
          if (min == INT64_MIN) return std::to_string(*value) + " is more than " + std::to_string(max);
          return std::to_string(*value) + " is not in " + std::to_string(min) + ".." + std::to_string(max);
        }
        text = std::to_string(*value);
        return {};
      },
      "");
}

enum class Usage { kOmit, kPrint };

// The exit for a command line CLI11 refused: --help prints and gives 0,
// anything else gives the bad-input code after one line on standard error
// saying what was wrong (and the usage, for programs whose few options are
// worth showing at once).
inline int parse_failure(const CLI::App& app, const CLI::ParseError& e, std::string_view program,
                         Usage usage = Usage::kOmit) {
  if (e.get_exit_code() == 0) return app.exit(e);
  std::cerr << program << ": " << e.what() << '\n';
  if (usage == Usage::kPrint) std::cerr << '\n' << app.help();
  std::cerr << std::flush;
  return kExitBadInput;
}

}  // namespace varnok::cli
