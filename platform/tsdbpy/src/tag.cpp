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

}  // namespace tsdbpy::tag
