#pragma once

// The words the viewer shows for what the server or the client library
// said: why a write failed, why a value is not live. Each text is built in
// one function here, so that richer status names replace them in one place.

#include <cstdint>
#include <string>

namespace varnok::tessaly {

// OPC UA: a status with the severity bit set; such a value is no measurement.
inline bool is_bad_status(std::uint32_t status_code) noexcept {
  return (status_code & 0x80000000u) != 0;
}

// Why a write did not happen, from the client library's status.
std::string write_failure_reason(int hublet_status);

// Why a poll brought no values, from the client library's status.
std::string poll_failure_reason(int hublet_status);

// A value's OPC UA status: "Bad (0x80310000)", "Uncertain (0x40000000)",
// "Good (0x00000000)".
std::string value_status_text(std::uint32_t status_code);

}  // namespace varnok::tessaly
