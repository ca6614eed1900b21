#include "varnok/yamlfile/file_error.h"

#include <utility>

namespace varnok::yamlfile {

FileError::FileError(std::string file, Position where, const std::string& reason)
    : SetupError(file + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
                 reason),
      file_(std::move(file)),
      where_(where),
      reason_(reason) {}

}  // namespace varnok::yamlfile
