#pragma once

// Statuses returned by hublet: 0 is success, every failure is negative. When
// the server refused (HUBLET_STATUS_SERVER_REFUSED), its own OPC UA status
// says why: per item in ValueRecord and WriteResult, for a whole call in
// last_server_status(). When it could not be reached or answered nonsense,
// last_transport_error() says why.

#include <cstdint>
#include <string>

namespace hublet {

enum HUBLET_STATUS : int {
  HUBLET_STATUS_GOOD = 0,
  HUBLET_STATUS_BAD_HANDLE = -1,          // unknown or destroyed source, group or item handle
  HUBLET_STATUS_INVALID_ARGUMENT = -2,    // bad endpoint URL, node name, list lengths that differ
  HUBLET_STATUS_NOT_CONNECTED = -3,       // cannot connect, or the connection was lost
  HUBLET_STATUS_TIMEOUT = -4,             // no answer within the time-out
  HUBLET_STATUS_MALFORMED = -5,           // the peer sent bytes that are not a valid message
  HUBLET_STATUS_BUFFER_TOO_SMALL = -6,    // a message ends before its content does
  HUBLET_STATUS_TOO_LARGE = -7,           // a message exceeds the negotiated or configured limits
  HUBLET_STATUS_SERVER_REFUSED = -8,      // the server answered with a bad OPC UA status
  HUBLET_STATUS_VALUE_DOES_NOT_FIT = -9,  // a written value cannot be converted exactly
  HUBLET_STATUS_UNSUPPORTED = -10,        // a data type or source kind this library does not handle
  HUBLET_STATUS_CANCELLED = -11,          // HubletLibrary::interrupt() ended the call
};

// "GOOD", "TIMEOUT", ... ("UNKNOWN" for anything else).
const char* status_name(int status);

// An OPC UA status code as text: "BadTypeMismatch (0x80740000)" for every
// standard code (named by its upper 16 bits; the hex form shows all 32),
// "0x80FF0000" alone for a code without a standard name.
std::string server_status_text(std::uint32_t code);

// OPC UA severity: Good codes have neither bit, Uncertain 0x40000000, Bad
// 0x80000000 (both bits set is reserved and counts as bad).
inline bool is_bad_status(std::uint32_t code) {
  return (code & 0x80000000u) != 0;
}
inline bool is_good_status(std::uint32_t code) {
  return (code & 0xC0000000u) == 0;
}

// The OPC UA status with which the server refused the calling thread's
// latest call that can reach it (create_source, browse_source,
// read_group_values, write_group_values, write_group_items), when that call
// returned HUBLET_STATUS_SERVER_REFUSED (a service fault, a refused channel
// or session, a node that cannot be browsed, a refused write through
// write_group_values); 0 after any other outcome. Per thread, so that
// threads sharing a library do not see each other's.
std::uint32_t last_server_status();

// Why the calling thread's latest call that can reach the server (as above)
// failed on the way to it or in its answer, naming the server, for a user:
// "cannot resolve host nosuch.invalid: Name or service not known", "cannot
// connect to 127.0.0.1:1: Connection refused", "no answer from
// 10.255.255.1:4840 within 5 s", "connection to localhost:4840 lost: closed
// by the server", "localhost:5432 is not an OPC UA server: it answered
// "..."", "invalid answer from localhost:4840: <what>". Set with
// NOT_CONNECTED, TIMEOUT, MALFORMED and TOO_LARGE; empty after any other
// outcome. Per thread, like last_server_status().
std::string last_transport_error();

}  // namespace hublet
