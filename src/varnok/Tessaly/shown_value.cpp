#include "session_events.h"
#include "status_text.h"
#include "value_text.h"

namespace varnok::tessaly {

ShownValue shown_value(const std::string& node_id, const hublet::ValueRecord& record) {
  ShownValue shown{.node_id = node_id, .text = value_text(record), .live = true, .status = {}};
  if (!is_bad_status(record.status_code)) return shown;
  shown.live = false;
  shown.status = value_status_text(record.status_code);
  // A bad record without a value keeps the last value on screen.
  if (std::holds_alternative<std::monostate>(record.value)) shown.text.clear();
  return shown;
}

}  // namespace varnok::tessaly
