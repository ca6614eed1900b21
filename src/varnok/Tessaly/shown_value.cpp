#include "session_events.h"
#include "status_text.h"
#include "value_text.h"

namespace varnok::tessaly {

ShownValue shown_value(const std::string& node_id, const hublet::ValueRecord& record) {
  ShownValue shown;
  assign_shown_value(node_id, record, shown);
  return shown;
}

void assign_shown_value(const std::string& node_id, const hublet::ValueRecord& record, ShownValue& out) {
  out.node_id = node_id;
  assign_value_text(record, out.text);
  out.live = !is_bad_status(record.status_code);
  if (out.live) {
    out.status.clear();
    return;
  }
  out.status = value_status_text(record.status_code);
  // A bad record without a value keeps the last value on screen.
  if (std::holds_alternative<std::monostate>(record.value)) out.text.clear();
}

}  // namespace varnok::tessaly
