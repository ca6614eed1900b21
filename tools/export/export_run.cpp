#include "export_run.h"

#include <unordered_map>

#include "columns.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"

namespace varnok::exporting {

void write_export(tsdbpy::conn::Connection& conn, const Request& request, std::ostream& out) {
  const std::vector<Column> columns = choose_columns(
      request.group, tsdbpy::tag::get_tags_starting_with(conn, group_prefix(request.group)), request.tags);
  std::vector<int> tag_ids;
  std::vector<std::string> names;
  std::unordered_map<int, std::size_t> column_of;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    tag_ids.push_back(columns[i].tag_id);
    names.push_back(columns[i].name);
    column_of.emplace(columns[i].tag_id, i);
  }
  CsvTable table(out, std::move(names), request.shape);
  tsdbpy::tsdata::scan_tsdata(conn, tag_ids, request.from, request.to,
                              [&](std::span<const tsdbpy::tsdata::Row> rows) {
                                for (const auto& row : rows)
                                  table.add(row.ts, column_of.at(row.tag_id), row.value);
                              });
  table.finish();
}

}  // namespace varnok::exporting
