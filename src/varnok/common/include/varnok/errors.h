#pragma once

// The programs' error types and the one place their exit codes are decided:
// 0 ok, 1 a failure while running, 2 bad usage or bad input.

#include <exception>
#include <iostream>
#include <stdexcept>
#include <string_view>

namespace varnok {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitBadInput = 2;

// Bad configuration, a bad plug-in or bad input: found before anything runs.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bad command line: an option, argument or value the program cannot take.
class UsageError : public SetupError {
 public:
  using SetupError::SetupError;
};

// A fault while running: lost connection, a server that refuses.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline int exit_code(const std::exception& e) noexcept {
  return dynamic_cast<const SetupError*>(&e) != nullptr ? kExitBadInput : kExitFailure;
}

// Writes "PROGRAM: what" on standard error and gives the exit code.
inline int report(std::string_view program, const std::exception& e) {
  std::cerr << program << ": " << e.what() << std::endl;
  return exit_code(e);
}

}  // namespace varnok
