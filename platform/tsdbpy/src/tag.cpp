#include "tsdbpy/tag.h"

#include "pq.h"

namespace tsdbpy::tag {

namespace {

// Columns: tag_id, tag_name, source_id, source_tagname.
TagInfo tag_of(const PGresult* res, int row) {
  TagInfo tag;
  tag.tag_id = detail::get_int4(res, row, 0);
  tag.tag_name = detail::get_text(res, row, 1);
  if (!detail::is_null(res, row, 2)) tag.source_id = detail::get_int4(res, row, 2);
  tag.source_tagname = detail::get_text(res, row, 3);
  return tag;
}

}  // namespace

std::optional<TagInfo> get_tag(conn::Connection& conn, std::string_view tag_name) {
  static constexpr const char* kSql =
      "SELECT tag_id, tag_name, source_id, source_tagname FROM tags WHERE tag_name = $1";
  detail::Params params;
  params.text(tag_name, "tag_name");
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  if (PQntuples(res.get()) == 0) return std::nullopt;
  return tag_of(res.get(), 0);
}

std::vector<TagInfo> get_tags_starting_with(conn::Connection& conn, std::string_view prefix) {
  // starts_with rather than LIKE: '_' and '%' in a name are plain characters.
  static constexpr const char* kSql =
      "SELECT tag_id, tag_name, source_id, source_tagname FROM tags WHERE starts_with(tag_name, $1)"
      " ORDER BY tag_id";
  detail::Params params;
  params.text(prefix, "prefix");
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  std::vector<TagInfo> out;
  const int rows = PQntuples(res.get());
  out.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) out.push_back(tag_of(res.get(), row));
  return out;
}

Result insert_new_tag(conn::Connection& conn, TagInfo& tag) {
  // A taken name is an answer, not an error: no row comes back.
  static constexpr const char* kSql =
      "INSERT INTO tags (tag_name, source_id, source_tagname) VALUES ($1, $2, $3)"
      " ON CONFLICT (tag_name) DO NOTHING RETURNING tag_id";
  try {
    detail::Params params;
    params.text(tag.tag_name, "tag_name");
    params.int4(tag.source_id);
    params.text(tag.source_tagname, "source_tagname");
    const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
    if (PQntuples(res.get()) == 0)
      return Result{false, "a tag named \"" + tag.tag_name + "\" exists already"};
    tag.tag_id = detail::get_int4(res.get(), 0, 0);
    return Result{true, {}};
  } catch (const Error& e) {
    return detail::failed(e);
  }
}

std::vector<int> find_or_register_tags(conn::Connection& conn, const std::vector<std::string>& names,
                                       std::optional<int> source_id) {
  // Two statements, not one: a single statement's snapshot would not see a
  // tag that another client committed while this one waited on its insert.
  // Names already there are filtered out first, so that they draw no ids.
  // The new ones draw their ids in the order given (the order the viewer
  // found its nodes, which export keeps), but go in sorted by name: two
  // clients inserting the same names then wait on each other in one order,
  // never in a cycle.
  static constexpr const char* kInsert =
      "INSERT INTO tags (tag_id, tag_name, source_id, source_tagname)"
      " SELECT n.id, n.name, $2, n.name FROM"
      " (SELECT u.name, nextval(pg_get_serial_sequence('tags', 'tag_id')) AS id"
      "  FROM unnest($1::text[]) WITH ORDINALITY AS u (name, place)"
      "  WHERE NOT EXISTS (SELECT 1 FROM tags t WHERE t.tag_name = u.name)"
      "  GROUP BY u.name ORDER BY min(u.place)) AS n"
      " ORDER BY n.name COLLATE \"C\""
      " ON CONFLICT (tag_name) DO NOTHING";
  static constexpr const char* kSelect =
      "SELECT coalesce(t.tag_id, 0) FROM unnest($1::text[]) WITH ORDINALITY AS u (name, place)"
      " LEFT JOIN tags t ON t.tag_name = u.name ORDER BY u.place";
  if (names.empty()) return {};
  detail::Params params;
  params.text_array(names, "tag_name");
  params.int4(source_id);
  detail::exec(conn, kInsert, params, detail::call_deadline(conn));
  detail::Params select;
  select.text_array(names, "tag_name");
  const auto res = detail::exec(conn, kSelect, select, detail::call_deadline(conn), true);
  const int rows = PQntuples(res.get());
  if (rows < 0 || static_cast<std::size_t>(rows) != names.size()) {
    throw Error("the server answered " + std::to_string(rows) + " tag ids for " +
                std::to_string(names.size()) + " names");
  }
  std::vector<int> ids;
  ids.reserve(names.size());
  for (int row = 0; row < rows; ++row) ids.push_back(detail::get_int4(res.get(), row, 0));
  return ids;
}

}  // namespace tsdbpy::tag
