#include "gateway_token.h"

#include <cstdlib>

#include "gateway_client.h"
#include "varnok/private_file.h"

namespace corvex {
namespace {

constexpr std::size_t kMaxTokenLength = 1024;

std::string trimmed(const std::string& text) {
  constexpr const char* kBlanks = " \t\v\f";
  const auto begin = text.find_first_not_of(kBlanks);
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

// As opcsim reads the same file: one line of printable ASCII, blanks around
// it dropped.
std::string read_token(const std::string& file) {
  const std::string what = std::string(kGatewayTokenFileVariable) + ": gateway token file " + file;
  try {
    const std::string token =
        trimmed(varnok::first_line_of_private_file(file, what, "the gateway token", kMaxTokenLength));
    if (token.empty())
      throw varnok::UsageError(what + ": the first line is blank (expected the gateway token)");
    for (const char c : token) {
      if (c < 0x20 || c > 0x7e) {
        throw varnok::UsageError(what + " holds a token with characters other than printable ASCII");
      }
    }
    return token;
  } catch (const varnok::UsageError& e) {
    throw GatewayError(GatewayError::Kind::kInvalid, e.what());
  }
}

}  // namespace

std::optional<std::string> gateway_token_from_environment() {
  const char* file = std::getenv(kGatewayTokenFileVariable);
  if (file == nullptr || *file == '\0') return std::nullopt;
  return read_token(file);
}

}  // namespace corvex
