#include "hublet/hublet.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>

#include "log.h"
#include "netio/wait.h"
#include "node_ids.h"
#include "ua_client.h"
#include "values.h"

namespace hublet {

namespace {

using ua::NodeId;

struct Source {
  std::mutex io;  // one request at a time on the connection
  std::unique_ptr<ua::Client> client;
  bool closed = false;  // guarded by io
};

struct Item {
  NodeId node;
  int declared_type = HUBLET_DATATYPE_UNKNOWN;
  int resolved_type = HUBLET_DATATYPE_UNKNOWN;  // asked of the server when not declared
};

struct Group {
  int source_handle = HUBLET_INVALID_HANDLE;
  std::shared_ptr<Source> source;
  std::string name;
  std::mutex mutex;  // guards items and the read plan; never held during a request
  std::map<int, Item> items;
  // The Read of the latest list of items read, encoded once: a poller reads
  // the same list every period. Items never change their node.
  std::vector<int> planned_items;
  std::shared_ptr<const ua::ReadPlan> read_plan;
};

// The server's status behind the calling thread's latest call that was
// refused as a whole.
thread_local std::uint32_t t_last_server_status = 0;
// Why the calling thread's latest call could not reach the server.
thread_local std::string t_last_transport_error;

// Every public call that can reach the server ends through here.
HUBLET_STATUS finish(HUBLET_STATUS status, const ua::Client* client) {
  t_last_server_status = status == HUBLET_STATUS_SERVER_REFUSED && client != nullptr ? client->refusal() : 0;
  const bool transport = status == HUBLET_STATUS_NOT_CONNECTED || status == HUBLET_STATUS_TIMEOUT ||
                         status == HUBLET_STATUS_MALFORMED || status == HUBLET_STATUS_TOO_LARGE ||
                         status == HUBLET_STATUS_BUFFER_TOO_SMALL;
  if (transport && client != nullptr) {
    t_last_transport_error = client->failure();
  } else {
    t_last_transport_error.clear();
  }
  return status;
}

// Built-in type id for a DataType attribute; UNKNOWN for any other type.
int builtin_type_of(const NodeId& data_type) {
  if (data_type.namespace_index == 0 && data_type.kind == NodeId::Kind::kNumeric && data_type.numeric >= 1 &&
      data_type.numeric <= ua::kMaxBuiltinType) {
    return static_cast<int>(data_type.numeric);
  }
  return HUBLET_DATATYPE_UNKNOWN;
}

bool is_good(const ua::DataValue& v) {
  return !v.status || !v.status->is_bad();
}

}  // namespace

const char* node_type_name(int node_type) {
  switch (node_type) {
    case HUBLET_NODETYPE_OBJECT:
      return "Object";
    case HUBLET_NODETYPE_VARIABLE:
      return "Variable";
    case HUBLET_NODETYPE_METHOD:
      return "Method";
    case HUBLET_NODETYPE_OBJECTTYPE:
      return "ObjectType";
    case HUBLET_NODETYPE_VARIABLETYPE:
      return "VariableType";
    case HUBLET_NODETYPE_REFERENCETYPE:
      return "ReferenceType";
    case HUBLET_NODETYPE_DATATYPE:
      return "DataType";
    case HUBLET_NODETYPE_VIEW:
      return "View";
    default:
      return "None";
  }
}

const char* data_type_name(int data_type) {
  static constexpr const char* kNames[] = {
      "Unknown",        "Boolean",        "SByte",         "Byte",          "Int16",           "UInt16",
      "Int32",          "UInt32",         "Int64",         "UInt64",        "Float",           "Double",
      "String",         "DateTime",       "Guid",          "ByteString",    "XmlElement",      "NodeId",
      "ExpandedNodeId", "StatusCode",     "QualifiedName", "LocalizedText", "ExtensionObject", "DataValue",
      "Variant",        "DiagnosticInfo",
  };
  return data_type >= 0 && data_type <= ua::kMaxBuiltinType ? kNames[data_type] : kNames[0];
}

const char* status_name(int status) {
  switch (status) {
    case HUBLET_STATUS_GOOD:
      return "GOOD";
    case HUBLET_STATUS_BAD_HANDLE:
      return "BAD_HANDLE";
    case HUBLET_STATUS_INVALID_ARGUMENT:
      return "INVALID_ARGUMENT";
    case HUBLET_STATUS_NOT_CONNECTED:
      return "NOT_CONNECTED";
    case HUBLET_STATUS_TIMEOUT:
      return "TIMEOUT";
    case HUBLET_STATUS_MALFORMED:
      return "MALFORMED";
    case HUBLET_STATUS_BUFFER_TOO_SMALL:
      return "BUFFER_TOO_SMALL";
    case HUBLET_STATUS_TOO_LARGE:
      return "TOO_LARGE";
    case HUBLET_STATUS_SERVER_REFUSED:
      return "SERVER_REFUSED";
    case HUBLET_STATUS_VALUE_DOES_NOT_FIT:
      return "VALUE_DOES_NOT_FIT";
    case HUBLET_STATUS_UNSUPPORTED:
      return "UNSUPPORTED";
    case HUBLET_STATUS_CANCELLED:
      return "CANCELLED";
    default:
      return "UNKNOWN";
  }
}

std::string server_status_text(std::uint32_t code) {
  return ua::status_text(code);
}

std::uint32_t last_server_status() {
  return t_last_server_status;
}

std::string last_transport_error() {
  return t_last_transport_error;
}

struct HubletLibrary::Impl {
  explicit Impl(Options o) : options(o) {}

  int new_handle() { return next_handle++; }  // callers hold `mutex`

  std::shared_ptr<Source> source(int handle) {
    std::lock_guard lock(mutex);
    const auto it = sources.find(handle);
    return it == sources.end() ? nullptr : it->second;
  }
  std::shared_ptr<Group> group(int handle) {
    std::lock_guard lock(mutex);
    const auto it = groups.find(handle);
    return it == groups.end() ? nullptr : it->second;
  }
  static void close(Source& source) {
    std::lock_guard io(source.io);
    if (source.closed) return;
    source.closed = true;
    source.client->disconnect();
  }

  // Reads the data types the items do not declare; caches what it learns.
  // An item whose DataType the server refused to give (an unknown node, not
  // a variable) is put in `refused` with the server's status.
  HUBLET_STATUS resolve_types(Source& source, Group& group, const std::vector<int>& handles,
                              std::map<int, std::uint32_t>& refused);

  Options options;
  Logger log;
  netio::Interrupt interrupt;  // handed to every source's waits
  std::mutex mutex;            // guards the maps and next_handle
  int next_handle = 1;
  std::map<int, std::shared_ptr<Source>> sources;
  std::map<int, std::shared_ptr<Group>> groups;
};

HubletLibrary::HubletLibrary() : HubletLibrary(Options{}) {}
HubletLibrary::HubletLibrary(Options options) : impl_(std::make_unique<Impl>(options)) {}
HubletLibrary::~HubletLibrary() {
  destroy();
}

void HubletLibrary::set_log_level(int level) {
  impl_->log.set_level(level);
}

void HubletLibrary::interrupt() {
  impl_->interrupt.set();
}

int HubletLibrary::create_source(int kind, const std::string& endpoint, int sub_interval_ms, int mode) {
  finish(HUBLET_STATUS_GOOD, nullptr);
  if (kind != 0) {
    HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN, "source kind %d is not supported (0: OPC UA)", kind);
    return HUBLET_INVALID_HANDLE;
  }
  ua::Endpoint parsed;
  if (!ua::parse_endpoint(endpoint, parsed) || sub_interval_ms < 0 || (mode != 0 && mode != 1)) {
    HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN,
               "bad source arguments: endpoint \"%s\", interval %d, mode %d", endpoint.c_str(),
               sub_interval_ms, mode);
    return HUBLET_INVALID_HANDLE;
  }
  Options options = impl_->options;
  // The session must outlive the longest pause between two polls.
  options.session_timeout =
      std::max(options.session_timeout, std::chrono::milliseconds(sub_interval_ms) * 10);
  auto source = std::make_shared<Source>();
  source->client = std::make_unique<ua::Client>(impl_->log, endpoint, parsed, options, impl_->interrupt.fd());
  if (mode == 1 && finish(source->client->connect(), source->client.get()) != HUBLET_STATUS_GOOD)
    return HUBLET_INVALID_HANDLE;
  std::lock_guard lock(impl_->mutex);
  const int handle = impl_->new_handle();
  impl_->sources.emplace(handle, std::move(source));
  return handle;
}

std::pair<int, std::vector<NodeRecord>> HubletLibrary::browse_source(int source_handle, int max_refs_per_node,
                                                                     int ns, const std::string& node_name,
                                                                     int identifier_type) {
  finish(HUBLET_STATUS_GOOD, nullptr);
  const auto source = impl_->source(source_handle);
  if (!source) return {HUBLET_STATUS_BAD_HANDLE, {}};
  NodeId node;
  if (max_refs_per_node < 0 || !make_node_id(ns, identifier_type, node_name, node))
    return {HUBLET_STATUS_INVALID_ARGUMENT, {}};

  std::lock_guard io(source->io);
  if (source->closed) return {HUBLET_STATUS_BAD_HANDLE, {}};
  ua::Client& client = *source->client;
  std::vector<ua::ReferenceDescription> refs;
  HUBLET_STATUS status = client.browse(node, static_cast<std::uint32_t>(max_refs_per_node), refs);
  if (status != HUBLET_STATUS_GOOD) return {finish(status, &client), {}};

  // Data type and access levels of the variables, in one go.
  std::vector<ua::ReadValueId> attributes;
  for (const auto& ref : refs) {
    if (ref.node_class != ua::NodeClass::kVariable) continue;
    for (std::uint32_t id : {ua::attr::kDataType, ua::attr::kAccessLevel, ua::attr::kUserAccessLevel}) {
      ua::ReadValueId& r = attributes.emplace_back();
      r.node_id = ref.node_id.node_id;
      r.attribute_id = id;
    }
  }
  std::vector<ua::DataValue> values;
  if (!attributes.empty()) {
    status = client.read(attributes, values);
    if (status != HUBLET_STATUS_GOOD) return {finish(status, &client), {}};
  }

  std::vector<NodeRecord> records;
  records.reserve(refs.size());
  std::size_t next_value = 0;
  for (const auto& ref : refs) {
    NodeRecord& record = records.emplace_back();
    record.node_type = static_cast<HUBLET_NODETYPE>(ref.node_class);
    record.namespace_index = ref.node_id.node_id.namespace_index;
    record.node_name = ua::identifier_text(ref.node_id.node_id);
    record.identifier_type = identifier_type_of(ref.node_id.node_id);
    record.display_name = ref.display_name.text.value_or(ref.browse_name.name);
    if (ref.node_class != ua::NodeClass::kVariable) continue;
    const ua::DataValue& data_type = values[next_value++];
    const ua::DataValue& access = values[next_value++];
    const ua::DataValue& user_access = values[next_value++];
    if (is_good(data_type) && data_type.value) {
      if (const auto* id = std::get_if<NodeId>(&data_type.value->value)) {
        record.data_type = static_cast<HUBLET_DATATYPE>(builtin_type_of(*id));
      }
    }
    const auto readable = [](const ua::DataValue& level) -> std::optional<bool> {
      if (!is_good(level) || !level.value) return std::nullopt;
      const auto* byte = std::get_if<std::uint8_t>(&level.value->value);
      if (byte == nullptr) return std::nullopt;
      return (*byte & 0x01) != 0;  // CurrentRead
    };
    // The user's access level decides when the server tells it.
    record.is_readable = readable(access).value_or(false) && readable(user_access).value_or(true);
  }
  return {HUBLET_STATUS_GOOD, std::move(records)};
}

int HubletLibrary::create_group(int source_handle, const std::string& name) {
  std::lock_guard lock(impl_->mutex);
  const auto it = impl_->sources.find(source_handle);
  if (it == impl_->sources.end()) return HUBLET_INVALID_HANDLE;
  auto group = std::make_shared<Group>();
  group->source_handle = source_handle;
  group->source = it->second;
  group->name = name;
  const int handle = impl_->new_handle();
  impl_->groups.emplace(handle, std::move(group));
  return handle;
}

std::pair<int, std::vector<int>> HubletLibrary::subscribe_group(
    int group_handle, const std::vector<TagDescriptor>& descriptors) {
  const auto group = impl_->group(group_handle);
  if (!group) return {HUBLET_STATUS_BAD_HANDLE, {}};
  std::vector<Item> items;
  for (const TagDescriptor& d : descriptors) {
    Item& item = items.emplace_back();
    if (!make_node_id(d.namespace_index, d.identifier_type, d.tag_name, item.node) || d.data_type < 0 ||
        d.data_type > ua::kMaxBuiltinType) {
      HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN,
                 "cannot subscribe \"%d:%s\" (identifier type %d, data type %d)", d.namespace_index,
                 d.tag_name.c_str(), d.identifier_type, d.data_type);
      return {HUBLET_STATUS_INVALID_ARGUMENT, {}};
    }
    item.declared_type = d.data_type;
  }
  std::vector<int> handles;
  std::lock_guard lock(impl_->mutex);  // handles come from the library
  std::lock_guard group_lock(group->mutex);
  for (Item& item : items) {
    const int handle = impl_->new_handle();
    group->items.emplace(handle, std::move(item));
    handles.push_back(handle);
  }
  return {HUBLET_STATUS_GOOD, std::move(handles)};
}

std::pair<int, std::vector<ValueRecord>> HubletLibrary::read_group_values(int group_handle,
                                                                          const std::vector<int>& items) {
  std::vector<ValueRecord> records;
  const int status = read_group_values(group_handle, items, records);
  return {status, std::move(records)};
}

int HubletLibrary::read_group_values(int group_handle, const std::vector<int>& items,
                                     std::vector<ValueRecord>& records) {
  finish(HUBLET_STATUS_GOOD, nullptr);
  records.clear();
  const auto group = impl_->group(group_handle);
  if (!group) return HUBLET_STATUS_BAD_HANDLE;
  std::shared_ptr<const ua::ReadPlan> plan;
  {
    std::lock_guard lock(group->mutex);
    if (!group->read_plan || group->planned_items != items) {
      std::vector<ua::ReadValueId> reads;
      reads.reserve(items.size());
      for (int handle : items) {
        const auto it = group->items.find(handle);
        if (it == group->items.end()) return HUBLET_STATUS_BAD_HANDLE;
        reads.emplace_back().node_id = it->second.node;
      }
      group->read_plan =
          std::make_shared<const ua::ReadPlan>(ua::plan_read(reads, impl_->options.max_nodes_per_read));
      group->planned_items = items;
    }
    plan = group->read_plan;
  }
  if (items.empty()) return HUBLET_STATUS_GOOD;
  Source& source = *group->source;
  records.resize(items.size());
  std::lock_guard io(source.io);
  if (source.closed) {
    records.clear();
    return HUBLET_STATUS_BAD_HANDLE;
  }
  const HUBLET_STATUS status = source.client->read(
      *plan, [&records](std::size_t i, const ua::DataValue& value) { records[i] = to_record(value); });
  if (status != HUBLET_STATUS_GOOD) {
    records.clear();
    return finish(status, source.client.get());
  }
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS HubletLibrary::Impl::resolve_types(Source& source, Group& group,
                                                 const std::vector<int>& handles,
                                                 std::map<int, std::uint32_t>& refused) {
  std::vector<int> unknown;
  std::vector<ua::ReadValueId> reads;
  {
    std::lock_guard lock(group.mutex);
    for (int handle : handles) {
      const Item& item = group.items.at(handle);
      if (item.declared_type != HUBLET_DATATYPE_UNKNOWN || item.resolved_type != HUBLET_DATATYPE_UNKNOWN)
        continue;
      if (std::find(unknown.begin(), unknown.end(), handle) != unknown.end()) continue;
      unknown.push_back(handle);
      for (std::uint32_t id : {ua::attr::kDataType, ua::attr::kValue}) {
        ua::ReadValueId& r = reads.emplace_back();
        r.node_id = item.node;
        r.attribute_id = id;
      }
    }
  }
  if (unknown.empty()) return HUBLET_STATUS_GOOD;
  std::vector<ua::DataValue> values;
  {
    std::lock_guard io(source.io);
    if (source.closed) return HUBLET_STATUS_BAD_HANDLE;
    const HUBLET_STATUS status = source.client->read(reads, values);
    if (status != HUBLET_STATUS_GOOD) return finish(status, source.client.get());
  }
  std::lock_guard lock(group.mutex);
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    const ua::DataValue& data_type = values[2 * i];
    const ua::DataValue& value = values[2 * i + 1];
    if (!is_good(data_type)) {
      // Not cached: the node may exist later (a server that restarts).
      refused[unknown[i]] = data_type.status->code;
      continue;
    }
    int type = HUBLET_DATATYPE_UNKNOWN;
    if (data_type.value) {
      if (const auto* id = std::get_if<NodeId>(&data_type.value->value)) type = builtin_type_of(*id);
    }
    // A derived or abstract data type: the value's own built-in type.
    if (type == HUBLET_DATATYPE_UNKNOWN && value.value && !value.value->is_array) type = value.value->type();
    const auto it = group.items.find(unknown[i]);
    if (it != group.items.end()) it->second.resolved_type = type;
  }
  return HUBLET_STATUS_GOOD;
}

int HubletLibrary::write_group_values(int group_handle, const std::vector<int>& items,
                                      const std::vector<double>& values) {
  const std::vector<ExactValue> exact(values.begin(), values.end());
  const auto [status, results] = write_group_items(group_handle, items, exact);
  if (status != HUBLET_STATUS_GOOD) return status;
  for (const WriteResult& r : results) {
    if (r.status == HUBLET_STATUS_GOOD) continue;
    t_last_server_status = r.status == HUBLET_STATUS_SERVER_REFUSED ? r.status_code : 0;
    return r.status;
  }
  return HUBLET_STATUS_GOOD;
}

std::pair<int, std::vector<WriteResult>> HubletLibrary::write_group_items(
    int group_handle, const std::vector<int>& items, const std::vector<ExactValue>& values) {
  finish(HUBLET_STATUS_GOOD, nullptr);
  const auto group = impl_->group(group_handle);
  if (!group) return {HUBLET_STATUS_BAD_HANDLE, {}};
  if (items.size() != values.size()) return {HUBLET_STATUS_INVALID_ARGUMENT, {}};
  if (items.empty()) return {HUBLET_STATUS_GOOD, {}};
  {
    std::lock_guard lock(group->mutex);
    for (int handle : items) {
      if (!group->items.count(handle)) return {HUBLET_STATUS_BAD_HANDLE, {}};
    }
  }
  Source& source = *group->source;
  std::map<int, std::uint32_t> refused;
  HUBLET_STATUS status = impl_->resolve_types(source, *group, items, refused);
  if (status != HUBLET_STATUS_GOOD) return {status, {}};

  std::vector<WriteResult> results(items.size());
  std::vector<ua::WriteValue> writes;
  std::vector<std::size_t> written;  // position in `items` of each write
  {
    std::lock_guard lock(group->mutex);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Item& item = group->items.at(items[i]);
      WriteResult& result = results[i];
      const int type =
          item.declared_type != HUBLET_DATATYPE_UNKNOWN ? item.declared_type : item.resolved_type;
      result.data_type = static_cast<HUBLET_DATATYPE>(type);
      if (const auto it = refused.find(items[i]); it != refused.end()) {
        result.status = HUBLET_STATUS_SERVER_REFUSED;
        result.status_code = it->second;
        HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN, "not writing to %s: the server gives no data type (%s)",
                   ua::to_string(item.node).c_str(), ua::status_text(it->second).c_str());
        continue;
      }
      ua::WriteValue w;
      w.node_id = item.node;
      ua::Variant variant;
      result.status = to_variant(values[i], type, variant);
      if (result.status != HUBLET_STATUS_GOOD) {
        HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN, "not writing %s to %s: %s as %s",
                   exact_value_text(values[i]).c_str(), ua::to_string(item.node).c_str(),
                   result.status == HUBLET_STATUS_UNSUPPORTED ? "cannot write such a value" : "does not fit",
                   data_type_name(type));
        continue;
      }
      w.value.value = std::move(variant);
      writes.push_back(std::move(w));
      written.push_back(i);
    }
  }
  if (!writes.empty()) {
    std::vector<ua::StatusCode> codes;
    {
      std::lock_guard io(source.io);
      if (source.closed) return {HUBLET_STATUS_BAD_HANDLE, {}};
      status = source.client->write(writes, codes);
      if (status != HUBLET_STATUS_GOOD) return {finish(status, source.client.get()), {}};
    }
    for (std::size_t k = 0; k < codes.size(); ++k) {
      WriteResult& result = results[written[k]];
      result.status_code = codes[k].code;
      if (!codes[k].is_bad()) continue;
      HUBLET_LOG(impl_->log, HUBLET_LOG_LEVEL_WARN, "server refused the write to %s: %s",
                 ua::to_string(writes[k].node_id).c_str(), ua::status_text(codes[k].code).c_str());
      result.status = HUBLET_STATUS_SERVER_REFUSED;
    }
  }
  return {HUBLET_STATUS_GOOD, std::move(results)};
}

int HubletLibrary::destroy_group(int group_handle) {
  std::lock_guard lock(impl_->mutex);
  return impl_->groups.erase(group_handle) ? HUBLET_STATUS_GOOD : HUBLET_STATUS_BAD_HANDLE;
}

int HubletLibrary::destroy_source(int source_handle) {
  std::shared_ptr<Source> source;
  {
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->sources.find(source_handle);
    if (it == impl_->sources.end()) return HUBLET_STATUS_BAD_HANDLE;
    source = std::move(it->second);
    impl_->sources.erase(it);
    std::erase_if(impl_->groups, [&](const auto& g) { return g.second->source_handle == source_handle; });
  }
  Impl::close(*source);
  return HUBLET_STATUS_GOOD;
}

void HubletLibrary::destroy() {
  std::map<int, std::shared_ptr<Source>> sources;
  {
    std::lock_guard lock(impl_->mutex);
    sources.swap(impl_->sources);
    impl_->groups.clear();
  }
  for (auto& [handle, source] : sources) Impl::close(*source);
}

}  // namespace hublet
