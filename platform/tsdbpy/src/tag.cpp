#include "tsdbpy/tag.h"

#include "pq.h"

namespace tsdbpy::tag {

std::optional<TagInfo> get_tag(conn::Connection& conn, std::string_view tag_name) {
  static constexpr const char* kSql =
      "SELECT tag_id, tag_name, source_id, source_tagname FROM tags WHERE tag_name = $1";
  detail::Params params;
  params.text(tag_name, "tag_name");
  const auto res = detail::exec(conn, kSql, params, detail::call_deadline(conn), true);
  if (PQntuples(res.get()) == 0) return std::nullopt;
  TagInfo tag;
  tag.tag_id = detail::get_int4(res.get(), 0, 0);
  tag.tag_name = detail::get_text(res.get(), 0, 1);
  if (!detail::is_null(res.get(), 0, 2)) tag.source_id = detail::get_int4(res.get(), 0, 2);
  tag.source_tagname = detail::get_text(res.get(), 0, 3);
  return tag;
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
