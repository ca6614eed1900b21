#include "columns.h"

#include <algorithm>

#include "varnok/errors.h"

namespace varnok::exporting {

std::string group_prefix(std::string_view group) {
  return "2:" + std::string(group) + ".";
}

std::vector<std::string> parse_tag_list(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    std::string name(text.substr(start, comma - start));
    if (name.empty()) throw UsageError("--tags: empty tag name in \"" + std::string(text) + "\"");
    if (std::find(names.begin(), names.end(), name) != names.end())
      throw UsageError("--tags: \"" + name + "\" is given twice");
    names.push_back(std::move(name));
    if (comma == text.size()) return names;
    start = comma + 1;
  }
}

std::vector<Column> choose_columns(std::string_view group, const std::vector<tsdbpy::tag::TagInfo>& recorded,
                                   const std::vector<std::string>& wanted) {
  const std::string prefix = group_prefix(group);
  std::vector<Column> all;
  for (const auto& tag : recorded) {
    if (tag.tag_name.starts_with(prefix) && tag.tag_id)
      all.push_back({tag.tag_name.substr(prefix.size()), *tag.tag_id});
  }
  if (all.empty()) throw UsageError("group \"" + std::string(group) + "\" has no recorded tags");
  if (wanted.empty()) return all;
  std::vector<Column> chosen;
  for (const auto& name : wanted) {
    const auto found = std::find_if(all.begin(), all.end(), [&](const Column& c) { return c.name == name; });
    if (found == all.end())
      throw UsageError("tag \"" + name + "\" was never recorded in group \"" + std::string(group) + "\"");
    chosen.push_back(*found);
  }
  return chosen;
}

}  // namespace varnok::exporting
