// varnok-ua: browse, read and write an OPC UA server from the command line
// through hublet.
//
//   varnok-ua ENDPOINT browse NODEID | NS NAME   one line per child, tab-separated
//   varnok-ua ENDPOINT read NODEID...            NODEID<TAB>value[<TAB>status] per node
//   varnok-ua ENDPOINT write NODEID VALUE        exit 0 when the server took it
//
// Exit codes: 0 ok, 1 when the server cannot be reached (said with host,
// port and reason) or refuses (or a value is bad or cannot be shown), 2 for
// bad usage or input.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "hublet/hublet.h"
#include "varnok/cli.h"
#include "varnok/errors.h"

namespace {

constexpr const char* kProgram = "varnok-ua";

constexpr const char* kTextForms = R"(
Node ids are written in the standard OPC UA form: ns=2;s=S1.MV1 (string),
ns=2;i=5 (numeric), ns=1;g=72962b91-fa75-4ae6-8d28-b404dc7daf63 (GUID),
ns=1;b=AP8Q (opaque, base64); namespace 0 without "ns=0;" (i=85). A string
id runs to the end, ';' and '=' included (ns=2;s=a;b=c). The short form
2:S1.MV1 is taken too and always names a string id (2:12345 is the string
"12345", ns=2;i=12345 the number). Quote node ids for the shell.

One node per line, fields separated by tabs. In node ids, names and text
values, \\ is a backslash, \t a tab, \n a line feed, \r a carriage return and
\xHH any other control byte; node ids and VALUE given on the command line
are read with the same escapes.

read prints NODEID<TAB>value, and a third field with the status when it is
not Good (e.g. ns=2;s=S1.CV1<TAB>31.5<TAB>BadNoCommunication (0x80310000)).
Values: True/False, integers exactly, doubles as the shortest text that
reads back the same, DateTime as 2026-12-09T15:04:06.123Z (UTC), text
escaped. A node without a value gets a line on standard error instead.

write takes True/False, whole numbers exactly (up to 64 bits), other decimal
numbers (nan and inf too), or text; the value is converted exactly to the
node's type, or refused.

Exit codes: 0 ok; 1 when the server cannot be reached (the host, the port
and the reason are printed, e.g. cannot connect to 127.0.0.1:22200:
Connection refused) or refuses (its status is printed, e.g. BadNotWritable
(0x803B0000)), or a node read has a bad status or a value varnok-ua cannot
show; 2 for a bad command line, node id or value (including a value that
does not fit the node's type).
)";

}  // namespace

int main(int argc, char** argv) {
  std::string endpoint;
  int timeout_ms = 5000;
  bool verbose = false;
  std::vector<std::string> browse_node;
  std::vector<std::string> read_ids;
  std::string write_id;
  std::string write_value;

  CLI::App app{"Browses, reads and writes an OPC UA server (SecurityPolicy None, anonymous)."};
  app.footer(kTextForms);
  app.add_option("ENDPOINT", endpoint, "opc.tcp://host:port")->required();
  app.add_option("--timeout", timeout_ms, "time-out of connecting and of each request, in ms")
      ->transform(varnok::cli::whole_number(1, 600000))
      ->capture_default_str();
  app.add_flag("-v,--verbose", verbose, "log the client's events on standard error");
  app.require_subcommand(1);
  auto* browse_cmd = app.add_subcommand("browse", "list the children of a node");
  browse_cmd->add_option("NODE", browse_node, "NODEID, or NS NAME (a NAME of digits is a numeric id)")
      ->required()
      ->expected(1, 2);
  auto* read_cmd = app.add_subcommand("read", "print the values of the nodes");
  read_cmd->add_option("NODEID", read_ids, "e.g. ns=2;s=S1.CV1 or 2:S1.CV1")->required();
  auto* write_cmd = app.add_subcommand("write", "write a value to a node");
  write_cmd->add_option("NODEID", write_id, "e.g. ns=2;s=S1.MV1 or 2:S1.MV1")->required();
  // A string, so that "-1" and " 12.5 " reach our own parsing.
  write_cmd->add_option("VALUE", write_value, "True/False, a number (nan and inf too) or text")
      ->required()
      ->allow_extra_args(false);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, kProgram);
  }

  hublet::Options options;
  options.request_timeout = std::chrono::milliseconds(timeout_ms);
  options.connect_timeout = std::chrono::milliseconds(timeout_ms);
  hublet::HubletLibrary hub(options);
  hub.set_log_level(verbose ? hublet::HUBLET_LOG_LEVEL_INFO : hublet::HUBLET_LOG_LEVEL_OFF);
  try {
    // Connects on the first call, which then says why it could not.
    const int source = hub.create_source(0, endpoint, 1000, 0);
    if (source == hublet::HUBLET_INVALID_HANDLE)
      throw varnok::UsageError("bad endpoint \"" + endpoint + "\" (expected opc.tcp://host:port)");
    if (browse_cmd->parsed()) return varnok::ua::browse(hub, source, browse_node);
    if (read_cmd->parsed()) return varnok::ua::read(hub, source, read_ids);
    return varnok::ua::write(hub, source, write_id, write_value);
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
}
