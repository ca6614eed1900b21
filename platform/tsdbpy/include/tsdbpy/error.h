#pragma once

#include <stdexcept>
#include <string>

namespace tsdbpy {

// A failed call that returns no result record: the message is the server's or
// libpq's text, or says which input was refused.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Outcome of a call that stores something. ok is false when nothing was
// stored; error then says why (server or libpq text, or the refused input).
struct Result {
  bool ok = false;
  std::string error{};

  explicit operator bool() const noexcept { return ok; }
};

}  // namespace tsdbpy
