#include "status_text.h"

#include <cstdio>

#include "hublet/status.h"

namespace varnok::tessaly {

std::string write_failure_reason(int hublet_status) {
  return hublet::status_name(hublet_status);
}

std::string poll_failure_reason(int hublet_status) {
  return std::string("no values from the server: ") + hublet::status_name(hublet_status);
}

std::string value_status_text(std::uint32_t status_code) {
  const char* severity = is_bad_status(status_code)    ? "Bad"
                         : (status_code & 0x40000000u) ? "Uncertain"
                                                       : "Good";
  char text[32];
  std::snprintf(text, sizeof text, "%s (0x%08X)", severity, static_cast<unsigned>(status_code));
  return text;
}

}  // namespace varnok::tessaly
