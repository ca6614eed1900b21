#pragma once

#include <stdexcept>
#include <string>

namespace varnok {

// Bad configuration or a bad plug-in: found before anything runs.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ModuleNotFound : public SetupError {
 public:
  using SetupError::SetupError;
};

class ObjectNotFound : public SetupError {
 public:
  using SetupError::SetupError;
};

// A plug-in file that exists but cannot be used (not loadable, no entry
// point, other ABI version, its construction threw).
class PluginError : public SetupError {
 public:
  using SetupError::SetupError;
};

// A fault while running: bad input, lost connection.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace varnok
