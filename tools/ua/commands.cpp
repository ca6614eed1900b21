#include "commands.h"

#include <iostream>

#include "line_text.h"
#include "varnok/errors.h"
#include "varnok/number_text.h"

namespace varnok::ua {

namespace {

using namespace hublet;

// A node id from the command line: escapes first, then the text form.
TagDescriptor node_from_text(const std::string& text) {
  std::string error;
  const auto unescaped = unescape(text, error);
  TagDescriptor node;
  if (!unescaped || !parse_node_id(*unescaped, node, error))
    throw UsageError("bad node id \"" + escape(text) + "\": " + error);
  return node;
}

// What the user typed, back on one line.
std::string shown(const std::string& text) {
  return escape(text);
}

std::string node_text(const TagDescriptor& node) {
  return escape(node_id_text(node));
}

// The reason of a failed call: the server's own status when it refused, what
// went wrong on the way when it could not be reached or made no sense.
std::string reason(int status) {
  const std::uint32_t server = last_server_status();
  if (status == HUBLET_STATUS_SERVER_REFUSED && server != 0) return server_status_text(server);
  const std::string transport = last_transport_error();
  if (!transport.empty()) return transport;
  return status_name(status);
}

[[noreturn]] void fail(const std::string& what, int status) {
  throw RunError(what + ": " + reason(status));
}

std::pair<int, std::vector<int>> subscribe(HubletLibrary& hub, int source,
                                           const std::vector<TagDescriptor>& nodes) {
  const int group = hub.create_group(source, "varnok-ua");
  const auto [status, items] = hub.subscribe_group(group, nodes);
  if (status < 0) fail("cannot subscribe", status);
  return {group, items};
}

// What a node of `type` takes, for a refused value.
std::string takes(int type) {
  switch (type) {
    case HUBLET_DATATYPE_BOOLEAN:
      return "True, False, 1 or 0";
    case HUBLET_DATATYPE_SBYTE:
      return "whole numbers from -128 to 127";
    case HUBLET_DATATYPE_BYTE:
      return "whole numbers from 0 to 255";
    case HUBLET_DATATYPE_INT16:
      return "whole numbers from -32768 to 32767";
    case HUBLET_DATATYPE_UINT16:
      return "whole numbers from 0 to 65535";
    case HUBLET_DATATYPE_INT32:
      return "whole numbers from -2147483648 to 2147483647";
    case HUBLET_DATATYPE_UINT32:
      return "whole numbers from 0 to 4294967295";
    case HUBLET_DATATYPE_INT64:
      return "whole numbers from -9223372036854775808 to 9223372036854775807";
    case HUBLET_DATATYPE_UINT64:
      return "whole numbers from 0 to 18446744073709551615";
    case HUBLET_DATATYPE_FLOAT:
      return "numbers up to about 3.4e+38 in magnitude";
    case HUBLET_DATATYPE_DOUBLE:
      return "numbers";
    default:
      return "text and numbers";
  }
}

}  // namespace

int browse(HubletLibrary& hub, int source, const std::vector<std::string>& node) {
  TagDescriptor parent;
  if (node.size() == 1) {
    parent = node_from_text(node[0]);
  } else {
    const std::int64_t ns = whole_number_or_throw(node[0], "NS");
    if (ns < 0 || ns > 65535) throw UsageError("NS: " + std::to_string(ns) + " is not in 0..65535");
    std::string error;
    const auto name = unescape(node[1], error);
    if (!name) throw UsageError("bad NAME \"" + shown(node[1]) + "\": " + error);
    parent = TagDescriptor{HUBLET_DATATYPE_UNKNOWN, static_cast<int>(ns), *name, HUBLET_IDTYPE_AUTO};
  }
  const std::string parent_text = node_text(parent);
  if (parent_text.empty()) throw UsageError("bad node \"" + shown(node.back()) + "\"");
  const auto [status, records] =
      hub.browse_source(source, 1000, parent.namespace_index, parent.tag_name, parent.identifier_type);
  if (status < 0) fail("browse of " + parent_text + " failed", status);
  for (const NodeRecord& r : records) {
    std::cout << escape(node_id_text(r)) << '\t' << escape(r.display_name) << '\t'
              << node_type_name(r.node_type) << '\t' << data_type_name(r.data_type) << '\t'
              << (r.is_readable ? "yes" : "no") << '\n';
  }
  return kExitOk;
}

int read(HubletLibrary& hub, int source, const std::vector<std::string>& node_ids) {
  std::vector<TagDescriptor> nodes;
  for (const auto& text : node_ids) nodes.push_back(node_from_text(text));
  const auto [group, items] = subscribe(hub, source, nodes);
  const auto [status, records] = hub.read_group_values(group, items);
  if (status < 0) fail("read failed", status);
  int exit_code = kExitOk;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ValueRecord& r = records[i];
    const std::string id = node_text(nodes[i]);
    if (is_bad_status(r.status_code)) exit_code = kExitFailure;
    if (const auto text = value_text(r)) {
      std::cout << id << '\t' << *text;
      if (!is_good_status(r.status_code)) std::cout << '\t' << server_status_text(r.status_code);
      std::cout << '\n';
      continue;
    }
    exit_code = kExitFailure;
    if (is_bad_status(r.status_code)) {
      std::cerr << "varnok-ua: read of " << id << " failed: " << server_status_text(r.status_code) << '\n';
    } else {
      std::cerr << "varnok-ua: " << id << ": " << missing_value_reason(r);
      if (!is_good_status(r.status_code)) std::cerr << " (" << server_status_text(r.status_code) << ")";
      std::cerr << '\n';
    }
  }
  return exit_code;
}

int write(HubletLibrary& hub, int source, const std::string& node_id, const std::string& value) {
  const TagDescriptor node = node_from_text(node_id);
  std::string error;
  const auto text = unescape(value, error);
  if (!text) throw UsageError("bad VALUE \"" + shown(value) + "\": " + error);
  const ExactValue exact = value_from_text(*text);
  const auto [group, items] = subscribe(hub, source, {node});
  const std::string id = node_text(node);
  const auto [status, results] = hub.write_group_items(group, items, {exact});
  if (status < 0) fail("write to " + id + " failed", status);
  const WriteResult& result = results.at(0);
  const std::string type = data_type_name(result.data_type);
  switch (result.status) {
    case HUBLET_STATUS_GOOD:
      return kExitOk;
    case HUBLET_STATUS_VALUE_DOES_NOT_FIT:
      throw UsageError("value " + shown(value) + " does not fit " + id + ", a node of type " + type +
                       " (it takes " + takes(result.data_type) + ")");
    case HUBLET_STATUS_UNSUPPORTED:
      if (result.data_type == HUBLET_DATATYPE_UNKNOWN)
        throw UsageError("cannot write to " + id + ": its data type is not one varnok-ua knows");
      throw UsageError("cannot write to " + id + ", a node of type " + type +
                       " (varnok-ua writes numbers, True/False and text)");
    default:
      throw RunError("write to " + id + " failed: " +
                     (result.status == HUBLET_STATUS_SERVER_REFUSED ? server_status_text(result.status_code)
                                                                    : status_name(result.status)));
  }
}

}  // namespace varnok::ua
