#pragma once

// Statuses returned by hublet: 0 is success, every failure is negative.

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

}  // namespace hublet
