// varnok-ua: browse, read and write an OPC UA server from the command line
// through hublet.
//
//   varnok-ua ENDPOINT browse NS NAME      one line per child, tab-separated
//   varnok-ua ENDPOINT read NODEID...      NODEID<TAB>value per node
//   varnok-ua ENDPOINT write NODEID VALUE  exit 0 when the server took it
//
// Node ids are written NS:NAME. Exit codes: 2 for usage errors, 1 when the
// server cannot be reached or refuses.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "corvex/value.h"
#include "hublet/hublet.h"
#include "varnok/cli.h"
#include "varnok/errors.h"
#include "varnok/number_text.h"

namespace {

using namespace hublet;
using varnok::UsageError;

constexpr const char* kProgram = "varnok-ua";

// "NS:NAME": a namespace index 0..65535, one colon, a non-empty name.
TagDescriptor parse_node_id(const std::string& text) {
  const auto colon = text.find(':');
  const std::string ns = text.substr(0, colon == std::string::npos ? 0 : colon);
  if (colon == std::string::npos || ns.empty() || ns.size() > 5 || colon + 1 == text.size() ||
      ns.find_first_not_of("0123456789") != std::string::npos || std::stoi(ns) > 65535) {
    throw UsageError("bad node id \"" + text + "\" (expected NS:NAME, e.g. 2:G1.MV1)");
  }
  return TagDescriptor{HUBLET_DATATYPE_UNKNOWN, std::stoi(ns), text.substr(colon + 1)};
}

std::string value_text(const ValueRecord& record) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return corvex::to_text(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else {
          return {};
        }
      },
      record.value);
}

[[noreturn]] void fail(const std::string& what, int status) {
  throw varnok::RunError(what + ": " + status_name(status));
}

int browse(HubletLibrary& hub, int source, int ns, const std::string& name) {
  const auto [status, records] = hub.browse_source(source, 1000, ns, name);
  if (status < 0) fail("browse of " + std::to_string(ns) + ":" + name + " failed", status);
  for (const NodeRecord& r : records) {
    std::cout << r.namespace_index << ':' << r.node_name << '\t' << r.display_name << '\t'
              << node_type_name(r.node_type) << '\t' << data_type_name(r.data_type) << '\t'
              << (r.is_readable ? "yes" : "no") << '\n';
  }
  return 0;
}

int read(HubletLibrary& hub, int source, const std::vector<std::string>& node_ids) {
  std::vector<TagDescriptor> descriptors;
  for (const auto& text : node_ids) descriptors.push_back(parse_node_id(text));
  const int group = hub.create_group(source, "varnok-ua");
  const auto [subscribed, items] = hub.subscribe_group(group, descriptors);
  if (subscribed < 0) fail("cannot subscribe", subscribed);
  const auto [status, records] = hub.read_group_values(group, items);
  if (status < 0) fail("read failed", status);
  int exit_code = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (std::holds_alternative<std::monostate>(records[i].value)) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", records[i].status_code);
      if (records[i].status_code & 0x80000000u) {
        std::cerr << "varnok-ua: " << node_ids[i] << ": no value (status " << code << ")\n";
      } else {
        std::cerr << "varnok-ua: " << node_ids[i] << ": a value of type "
                  << data_type_name(records[i].data_type)
                  << " that cannot be shown (an array or a structure)\n";
      }
      exit_code = varnok::kExitFailure;
      continue;
    }
    std::cout << node_ids[i] << '\t' << value_text(records[i]) << '\n';
  }
  return exit_code;
}

int write(HubletLibrary& hub, int source, const std::string& node_id, const std::string& value_text) {
  const TagDescriptor descriptor = parse_node_id(node_id);
  const double value = varnok::number_or_throw(value_text, "VALUE");
  const int group = hub.create_group(source, "varnok-ua");
  const auto [subscribed, items] = hub.subscribe_group(group, {descriptor});
  if (subscribed < 0) fail("cannot subscribe", subscribed);
  const int status = hub.write_group_values(group, items, {value});
  if (status < 0) fail("write to " + node_id + " failed", status);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string endpoint;
  int timeout_ms = 5000;
  bool verbose = false;
  int browse_ns = 0;
  std::string browse_name;
  std::vector<std::string> read_ids;
  std::string write_id;
  std::string write_value;

  CLI::App app{"Browses, reads and writes an OPC UA server (SecurityPolicy None, anonymous)."};
  app.add_option("ENDPOINT", endpoint, "opc.tcp://host:port")->required();
  app.add_option("--timeout", timeout_ms, "time-out of each request and of connecting, in ms")
      ->transform(varnok::cli::whole_number(1, 600000));
  app.add_flag("-v,--verbose", verbose, "log the library's events on standard error");
  app.require_subcommand(1);
  auto* browse_cmd = app.add_subcommand("browse", "list the children of node NS:NAME");
  browse_cmd->add_option("NS", browse_ns, "namespace index")
      ->required()
      ->transform(varnok::cli::whole_number(0, 65535));
  browse_cmd->add_option("NAME", browse_name, "node name (digits: numeric id)")->required();
  auto* read_cmd = app.add_subcommand("read", "print the values of the nodes");
  read_cmd->add_option("NODEID", read_ids, "NS:NAME")->required();
  auto* write_cmd = app.add_subcommand("write", "write a number to a node");
  write_cmd->add_option("NODEID", write_id, "NS:NAME")->required();
  // A string, so that "-1" and " 12.5 " reach our own parsing.
  write_cmd->add_option("VALUE", write_value, "number (nan and inf accepted)")
      ->required()
      ->allow_extra_args(false);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, kProgram);
  }

  Options options;
  options.request_timeout = std::chrono::milliseconds(timeout_ms);
  options.connect_timeout = std::chrono::milliseconds(timeout_ms);
  HubletLibrary hub(options);
  hub.set_log_level(verbose ? HUBLET_LOG_LEVEL_INFO : HUBLET_LOG_LEVEL_OFF);
  try {
    // Connects on the first call, which then says why it could not.
    const int source = hub.create_source(0, endpoint, 1000, 0);
    if (source == HUBLET_INVALID_HANDLE)
      throw UsageError("bad endpoint \"" + endpoint + "\" (expected opc.tcp://host:port)");
    if (browse_cmd->parsed()) return browse(hub, source, browse_ns, browse_name);
    if (read_cmd->parsed()) return read(hub, source, read_ids);
    return write(hub, source, write_id, write_value);
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
}
