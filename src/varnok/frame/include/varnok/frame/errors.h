#pragma once

#include "varnok/errors.h"

namespace varnok {

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

}  // namespace varnok
