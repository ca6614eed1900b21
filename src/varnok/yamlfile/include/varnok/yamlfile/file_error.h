#pragma once

// A fault in a file we read, said on one line with where it is.

#include <string>

#include "varnok/errors.h"

namespace varnok::yamlfile {

// Where something is in the file, 1-based; 0 when not known.
struct Position {
  int line = 0;
  int column = 0;
};

// A bad file: what() is the one line "FILE:LINE:COLUMN: what is wrong".
class FileError : public SetupError {
 public:
  FileError(std::string file, Position where, const std::string& reason);

  const std::string& file() const noexcept { return file_; }
  Position where() const noexcept { return where_; }
  int line() const noexcept { return where_.line; }
  int column() const noexcept { return where_.column; }
  const std::string& reason() const noexcept { return reason_; }

 private:
  std::string file_;
  Position where_;
  std::string reason_;
};

}  // namespace varnok::yamlfile
