#pragma once

// What every command-line program shares on top of CLI11: numbers read by
// our one parser (CLI11 alone would take 0x10, 010 as octal, and hex
// floats), and the exit for a command line it refused.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "varnok/errors.h"
#include "varnok/number_text.h"

namespace varnok::cli {

namespace cli_detail {

// A number as the user would write it: 2000000 rather than 2e+06.
inline std::string shown(double value) {
  if (std::trunc(value) == value && std::fabs(value) < 1e15)
    return std::to_string(static_cast<std::int64_t>(value));
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

// The one wording of a value outside an option's bounds, for whole and
// decimal numbers alike: `below` says which side it left; a bound not given
// is none.
inline std::string outside(const std::string& value, bool below, const std::optional<std::string>& min,
                           const std::optional<std::string>& max, bool min_excluded = false) {
  if (min && max && !min_excluded) return value + " is not in " + *min + ".." + *max;
  if (!below) return value + " is more than " + *max;
  if (!min_excluded) return value + " is less than " + *min;
  if (*min == "0" && !max) return value + " is not a positive number";
  return value + " is not more than " + *min;
}

}  // namespace cli_detail

// Options that take numbers: the text must be decimal (and, for an option,
// finite: no setting of ours means NaN) and within the bounds; CLI11 then
// converts the canonical form we hand it. `lower` says whether min itself
// is taken.
enum class Lower { kIncluded, kExcluded };

inline CLI::Validator decimal_number(double min = -HUGE_VAL, double max = HUGE_VAL,
                                     Lower lower = Lower::kIncluded) {
  return CLI::Validator(
      [min, max, lower](std::string& text) -> std::string {
        const auto value = parse_number(text);
        if (!value || !std::isfinite(*value)) return "\"" + text + "\" is not a finite decimal number";
        const bool too_low = lower == Lower::kExcluded ? !(*value > min) : *value < min;
        if (too_low || *value > max) {
          const auto bound = [](double b) -> std::optional<std::string> {
            if (std::isinf(b)) return std::nullopt;
            return cli_detail::shown(b);
          };
          return cli_detail::outside(cli_detail::shown(*value), too_low, bound(min), bound(max),
                                     lower == Lower::kExcluded);
        }
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value);
        text.assign(buffer, end);
        return {};
      },
      "");
}

// Above zero, as speeds and factors are.
inline CLI::Validator positive_number() {
  CLI::Validator v = decimal_number(0, HUGE_VAL, Lower::kExcluded);
  v.description("POSITIVE");
  return v;
}

inline CLI::Validator whole_number(std::int64_t min = INT64_MIN, std::int64_t max = INT64_MAX) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        const auto value = parse_whole_number(text);
        if (!value) return "\"" + text + "\" is not a whole decimal number";
        if (*value < min || *value > max) {
          const auto bound = [](std::int64_t b, std::int64_t none) -> std::optional<std::string> {
            if (b == none) return std::nullopt;
            return std::to_string(b);
          };
          return cli_detail::outside(std::to_string(*value), *value < min, bound(min, INT64_MIN),
                                     bound(max, INT64_MAX));
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
