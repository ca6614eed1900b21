#include "status_text.h"

namespace varnok::tessaly {

std::string write_failure_reason(const hublet::WriteResult& result) {
  if (result.status == hublet::HUBLET_STATUS_SERVER_REFUSED)
    return hublet::server_status_text(result.status_code);
  return hublet::status_name(result.status);
}

std::string write_failure_reason(int hublet_status) {
  const std::uint32_t server = hublet::last_server_status();
  if (hublet_status == hublet::HUBLET_STATUS_SERVER_REFUSED && server != 0)
    return hublet::server_status_text(server);
  return hublet::status_name(hublet_status);
}

std::string poll_failure_reason(int hublet_status) {
  return std::string("no values from the server: ") + hublet::status_name(hublet_status);
}

std::string value_status_text(std::uint32_t status_code) {
  return hublet::server_status_text(status_code);
}

}  // namespace varnok::tessaly
