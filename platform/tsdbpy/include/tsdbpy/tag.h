#pragma once

// Tags: one per recorded variable, named uniquely (the viewer uses the node
// id, e.g. "2:G1.PV").

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tsdbpy/conn.h"
#include "tsdbpy/error.h"

namespace tsdbpy::tag {

struct TagInfo {
  std::string tag_name{};
  // The tag's source, or none (stored as NULL).
  std::optional<int> source_id{};
  // The variable's name at its source.
  std::string source_tagname{};
  // Filled by insert_new_tag and get_tag.
  std::optional<int> tag_id{};
};

// The stored tag named exactly `tag_name`, or none. Throws tsdbpy::Error when
// the query fails, the connection is closed or the name holds a NUL character.
std::optional<TagInfo> get_tag(conn::Connection& conn, std::string_view tag_name);

// The stored tags whose names begin with `prefix` (compared byte for byte, no
// pattern characters), in tag_id order: the order they were first recorded.
// Throws tsdbpy::Error like get_tag.
std::vector<TagInfo> get_tags_starting_with(conn::Connection& conn, std::string_view prefix);

// Stores `tag` and fills its tag_id. ok is false, with tag_id untouched and
// nothing stored, when the name is taken already, the source_id names no
// source, a text holds a NUL character, or the database fails.
Result insert_new_tag(conn::Connection& conn, TagInfo& tag);

// The tag id of each name, in the order given, registering the names that
// have no tag yet (tag_name and source_tagname the name, source `source_id`
// or none) in the order given. Two round trips whatever the count, and safe
// while another client registers the same names: a name taken meanwhile is
// found, not registered twice. Tags found keep their source. A name given
// twice gets the same id twice; 0 for a tag deleted by another client
// between the two statements. Nothing is sent for no names. Throws
// tsdbpy::Error when a statement fails (a source_id that names no source
// among them), the connection is closed or a name holds a NUL character.
std::vector<int> find_or_register_tags(conn::Connection& conn, const std::vector<std::string>& names,
                                       std::optional<int> source_id);

}  // namespace tsdbpy::tag
