#pragma once

// Which recorded tags varnok-export writes, and in which order.

#include <string>
#include <string_view>
#include <vector>

#include "tsdbpy/tag.h"

namespace varnok::exporting {

struct Column {
  std::string name;  // the tag within its group: "PV" of "2:S1.PV"
  int tag_id = 0;
};

// The start of every stored name of a group's tags: the recorder stores node
// ids of namespace 2, "2:S1.PV" for tag PV of group S1.
std::string group_prefix(std::string_view group);

// --tags "A,B,C" as names; throws UsageError for an empty name or one given
// twice.
std::vector<std::string> parse_tag_list(std::string_view text);

// `recorded` are the group's stored tags (names starting with
// group_prefix(group)) in tag_id order. The columns are all of them in that
// order, the order in which they were first recorded, or `wanted` in its
// own order. Throws UsageError naming the group when it has no recorded
// tags, or the first wanted tag that was never recorded in it.
std::vector<Column> choose_columns(std::string_view group, const std::vector<tsdbpy::tag::TagInfo>& recorded,
                                   const std::vector<std::string>& wanted);

}  // namespace varnok::exporting
