#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvex {

// What an OPC UA client may show about a tag; the model never reads it.
struct TagInfo {
  std::string description;
  std::string unit;
  std::optional<double> low;  // range of normal operation, either side may be open
  std::optional<double> high;

  bool empty() const { return description.empty() && unit.empty() && !low && !high; }
  friend bool operator==(const TagInfo&, const TagInfo&) = default;
};

// Tag -> info, for the tags that have any.
using TagInfoList = std::vector<std::pair<std::string, TagInfo>>;

}  // namespace corvex
