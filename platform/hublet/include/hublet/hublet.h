#pragma once

// hublet: a small OPC UA binary client (SecurityPolicy None, anonymous) with
// the calls a data-hub viewer makes: open a source on an endpoint, browse a
// node's children, group variables, poll their values and write them.
//
// Results are checked by status: handles against HUBLET_INVALID_HANDLE,
// (status, data) pairs with a negative status meaning failure. Every call is
// bounded in time; a lost connection is re-established on a later call.
// All calls are safe from any thread; requests on one source are serialised.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "hublet/status.h"

namespace hublet {

inline constexpr int HUBLET_INVALID_HANDLE = 0;

enum HUBLET_LOG_LEVEL : int {
  HUBLET_LOG_LEVEL_TRACE = 0,
  HUBLET_LOG_LEVEL_DEBUG = 1,
  HUBLET_LOG_LEVEL_INFO = 2,
  HUBLET_LOG_LEVEL_WARN = 3,
  HUBLET_LOG_LEVEL_ERROR = 4,
  HUBLET_LOG_LEVEL_OFF = 5,
};

// OPC UA NodeClass values.
enum HUBLET_NODETYPE : int {
  HUBLET_NODETYPE_NONE = 0,
  HUBLET_NODETYPE_OBJECT = 1,
  HUBLET_NODETYPE_VARIABLE = 2,
  HUBLET_NODETYPE_METHOD = 4,
  HUBLET_NODETYPE_OBJECTTYPE = 8,
  HUBLET_NODETYPE_VARIABLETYPE = 16,
  HUBLET_NODETYPE_REFERENCETYPE = 32,
  HUBLET_NODETYPE_DATATYPE = 64,
  HUBLET_NODETYPE_VIEW = 128,
};

// OPC UA built-in type ids; UNKNOWN for every other data type (structures,
// enumerations, abstract and derived types).
enum HUBLET_DATATYPE : int {
  HUBLET_DATATYPE_UNKNOWN = 0,
  HUBLET_DATATYPE_BOOLEAN = 1,
  HUBLET_DATATYPE_SBYTE = 2,
  HUBLET_DATATYPE_BYTE = 3,
  HUBLET_DATATYPE_INT16 = 4,
  HUBLET_DATATYPE_UINT16 = 5,
  HUBLET_DATATYPE_INT32 = 6,
  HUBLET_DATATYPE_UINT32 = 7,
  HUBLET_DATATYPE_INT64 = 8,
  HUBLET_DATATYPE_UINT64 = 9,
  HUBLET_DATATYPE_FLOAT = 10,
  HUBLET_DATATYPE_DOUBLE = 11,
  HUBLET_DATATYPE_STRING = 12,
  HUBLET_DATATYPE_DATETIME = 13,
  HUBLET_DATATYPE_GUID = 14,
  HUBLET_DATATYPE_BYTESTRING = 15,
  HUBLET_DATATYPE_XMLELEMENT = 16,
  HUBLET_DATATYPE_NODEID = 17,
  HUBLET_DATATYPE_EXPANDEDNODEID = 18,
  HUBLET_DATATYPE_STATUSCODE = 19,
  HUBLET_DATATYPE_QUALIFIEDNAME = 20,
  HUBLET_DATATYPE_LOCALIZEDTEXT = 21,
  HUBLET_DATATYPE_EXTENSIONOBJECT = 22,
  HUBLET_DATATYPE_DATAVALUE = 23,
  HUBLET_DATATYPE_VARIANT = 24,
  HUBLET_DATATYPE_DIAGNOSTICINFO = 25,
};

// How a node's identifier is given. AUTO is the rule hublet always had:
// decimal digits name a numeric identifier, anything else a string one; so a
// string identifier made only of digits needs HUBLET_IDTYPE_STRING.
enum HUBLET_IDTYPE : int {
  HUBLET_IDTYPE_AUTO = 0,
  HUBLET_IDTYPE_NUMERIC = 1,
  HUBLET_IDTYPE_STRING = 2,
  HUBLET_IDTYPE_GUID = 3,    // the identifier's text is 8-4-4-4-12 hexadecimal digits
  HUBLET_IDTYPE_OPAQUE = 4,  // the identifier's text is its bytes in base64
};

const char* node_type_name(int node_type);  // "Variable", "Object", ...; "None" otherwise
const char* data_type_name(int data_type);  // "Double", "Boolean", ...; "Unknown" otherwise

// One child found by browse_source. node_name is the identifier's text: the
// string itself for string ids, decimal digits for numeric ids, a GUID as
// 8-4-4-4-12 lowercase hexadecimal digits, an opaque id in base64;
// identifier_type says which. The viewer names a node
// "<namespace_index>:<node_name>"; node_id_text() gives the standard form.
struct NodeRecord {
  HUBLET_NODETYPE node_type = HUBLET_NODETYPE_NONE;
  bool is_readable = false;  // variables whose (user) access level allows reading
  HUBLET_DATATYPE data_type = HUBLET_DATATYPE_UNKNOWN;
  int namespace_index = 0;
  std::string node_name;
  std::string display_name;
  HUBLET_IDTYPE identifier_type = HUBLET_IDTYPE_AUTO;  // never AUTO from browse_source
  bool operator==(const NodeRecord&) const = default;
};

// One variable to subscribe. data_type is a HUBLET_DATATYPE value; 0 (unknown)
// makes the library ask the server when it needs the type. tag_name is the
// identifier's text as in NodeRecord::node_name, read as identifier_type says
// (a HUBLET_IDTYPE value). To subscribe a browsed node exactly:
// {record.data_type, record.namespace_index, record.node_name, record.identifier_type}.
struct TagDescriptor {
  int data_type = HUBLET_DATATYPE_UNKNOWN;
  int namespace_index = 0;
  std::string tag_name;
  int identifier_type = HUBLET_IDTYPE_AUTO;
  bool operator==(const TagDescriptor&) const = default;
};

// The standard text form of a node id: "ns=2;s=S1.MV1", "ns=2;i=5",
// "ns=1;g=72962b91-fa75-4ae6-8d28-b404dc7daf63", "ns=1;b=AP8Q"; namespace 0
// without its "ns=0;" ("i=85"). String identifiers appear as they are (the
// form has no escapes). Empty when the descriptor names no valid node id.
std::string node_id_text(const TagDescriptor& node);
std::string node_id_text(const NodeRecord& node);

// Reads a node id typed by a user: the standard form above, or the short
// form "NS:NAME", which always names a string identifier ("2:12345" is the
// string "12345"). Nothing is trimmed. On success fills namespace_index,
// tag_name and identifier_type (never AUTO) of `out` and leaves data_type;
// otherwise returns false and says in `error` what the text should be.
bool parse_node_id(std::string_view text, TagDescriptor& out, std::string& error);

// An OPC UA DateTime: 100 ns intervals since 1601-01-01 00:00 UTC.
struct DateTime {
  std::int64_t ticks = 0;
  bool operator==(const DateTime&) const = default;
};
// ISO 8601 in UTC with the fraction it needs: "2026-12-09T15:04:06.123Z",
// "1601-01-01T00:00:00Z".
std::string date_time_text(DateTime t);

struct ValueRecord {
  // Booleans as bool; integer types as int64, except UInt64 values above
  // INT64_MAX as uint64; Float and Double as double; DateTime as DateTime;
  // String, LocalizedText, QualifiedName, XmlElement and ByteString as text
  // (the bytes as they came); NodeId, ExpandedNodeId, Guid and StatusCode as
  // their text forms. monostate for arrays (array_length says how long), for
  // a variable without a value, and for the other types.
  //
  // A bad status_code does not hide a value the server sent with it: a server
  // may keep the last value of a variable it can no longer update (e.g.
  // BadNoCommunication). Check status_code before using a value.
  std::variant<std::monostate, bool, std::int64_t, double, std::string, std::uint64_t, DateTime> value;
  std::uint32_t status_code = 0;                        // the server's OPC UA status for the value
  HUBLET_DATATYPE data_type = HUBLET_DATATYPE_UNKNOWN;  // built-in type of the value sent
  int array_length = -1;                                // elements of an array value; -1 for a scalar
  bool operator==(const ValueRecord&) const = default;
};

// A value to write as the caller has it, converted exactly to the node's
// data type by write_group_items.
using ExactValue = std::variant<bool, std::int64_t, std::uint64_t, double, std::string>;

// What became of one item of write_group_items.
struct WriteResult {
  // GOOD: written. VALUE_DOES_NOT_FIT: the value cannot be converted exactly
  // (not written). UNSUPPORTED: the node's data type takes no such value (not
  // written). SERVER_REFUSED: status_code says why.
  int status = HUBLET_STATUS_GOOD;
  std::uint32_t status_code = 0;                        // the server's OPC UA status for the item
  HUBLET_DATATYPE data_type = HUBLET_DATATYPE_UNKNOWN;  // the node's type the value was converted to
  bool operator==(const WriteResult&) const = default;
};

struct Options {
  // Establishing a connection: TCP (all addresses of the host), Hello,
  // OpenSecureChannel, CreateSession and ActivateSession together.
  std::chrono::milliseconds connect_timeout{3000};
  // Every service request once connected.
  std::chrono::milliseconds request_timeout{5000};
  // Secure channel token lifetime asked for; renewed at 75 % of what the
  // server grants.
  std::chrono::milliseconds channel_lifetime{600000};
  std::chrono::milliseconds session_timeout{60000};
  // Operations per Read request; larger reads are split.
  std::size_t max_nodes_per_read = 1000;
  // Largest response accepted (all chunks together), and the largest chunk
  // (at least 8192); longer responses come in several chunks.
  std::uint32_t max_message_size = 16u * 1024 * 1024;
  std::uint32_t receive_buffer_size = 65536;
};

class HubletLibrary {
 public:
  HubletLibrary();
  explicit HubletLibrary(Options options);
  ~HubletLibrary();  // calls destroy()
  HubletLibrary(const HubletLibrary&) = delete;
  HubletLibrary& operator=(const HubletLibrary&) = delete;

  // Log lines go to standard error, one per event, at this level and above
  // (default HUBLET_LOG_LEVEL_WARN).
  void set_log_level(int level);

  // kind 0: OPC UA binary over TCP, endpoint "opc.tcp://host[:port][/path]".
  // mode 1: connect now and fail when the server cannot be reached; mode 0:
  // connect on the first call. sub_interval_ms is the expected polling period
  // (the session time-out is kept well above it). Returns a source handle or
  // HUBLET_INVALID_HANDLE, within connect_timeout.
  int create_source(int kind, const std::string& endpoint, int sub_interval_ms, int mode);

  // The children of ns:node_name (hierarchical references, forward), all of
  // them, in the server's order. node_name is read as identifier_type says
  // (AUTO: decimal digits name a numeric identifier, anything else a string
  // identifier). max_refs_per_node is the page size asked of the server (0:
  // the server's choice).
  std::pair<int, std::vector<NodeRecord>> browse_source(int source, int max_refs_per_node, int ns,
                                                        const std::string& node_name,
                                                        int identifier_type = HUBLET_IDTYPE_AUTO);

  int create_group(int source, const std::string& name);

  // Item handles in the order of the descriptors. Does not contact the server.
  std::pair<int, std::vector<int>> subscribe_group(int group, const std::vector<TagDescriptor>& descriptors);

  // Reads the current values; the status is negative when the request failed
  // as a whole, per-node statuses are in the records (with the value, when
  // the server sent one).
  std::pair<int, std::vector<ValueRecord>> read_group_values(int group, const std::vector<int>& items);
  // The same into `records`, which keeps its storage from one poll to the
  // next; empty when the status is negative. Reading the same list again
  // sends the request encoded the first time.
  int read_group_values(int group, const std::vector<int>& items, std::vector<ValueRecord>& records);

  // Writes values[i] to items[i], each converted exactly to the node's data
  // type. A value that does not fit (fraction or out of range for an
  // integer, NaN/inf for an integer, other than 0/1 for a Boolean, beyond the
  // range of a Float) is refused and that item is not written; the others
  // are. Returns HUBLET_STATUS_GOOD when every value was written, otherwise
  // the first failure (for SERVER_REFUSED, last_server_status() gives the
  // server's status of that item).
  int write_group_values(int group, const std::vector<int>& items, const std::vector<double>& values);

  // Writes values[i] to items[i], each converted exactly to the node's data
  // type, and says what became of every item. Integer types take integers
  // within their range, and doubles that are whole and within it; Boolean
  // takes true/false, and 0 and 1; Float and Double take any number (the
  // nearest one of their type; beyond a Float's range is refused); String
  // takes text as it is and numbers as their shortest decimal text. The
  // status is negative when the call failed as a whole (then no item was
  // written, or, for a lost connection, it is unknown which were).
  std::pair<int, std::vector<WriteResult>> write_group_items(int group, const std::vector<int>& items,
                                                             const std::vector<ExactValue>& values);

  int destroy_group(int group);
  int destroy_source(int source);  // also destroys the source's groups
  // Closes every session and channel; idempotent. The library stays usable.
  void destroy();

  // For shutting down from another thread: every call waiting on the network
  // ends within milliseconds with HUBLET_STATUS_CANCELLED (handles:
  // HUBLET_INVALID_HANDLE), and every later call that would wait on it fails
  // the same way at once. One-way: the library is then good only for the
  // destroy calls, which close connections without waiting.
  void interrupt();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hublet
