#pragma once

// What leaves a viewer session: plain values, copied to whoever listens, on
// the session's threads.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hublet/hublet.h"

namespace varnok::tessaly {

struct DiscoveredNode {
  std::string node_id{};  // "<namespace index>:<node name>", e.g. 2:T1.PV
  std::string display_name;
};

// One node's value as the viewer shows it.
struct ShownValue {
  std::string node_id;
  // The value's text form (value_text.h); empty when the server sent none.
  std::string text;
  // False for a value that is no live measurement (bad OPC UA status, or no
  // answer to the poll): shown as stale, with `status` saying why.
  bool live = true;
  std::string status;

  bool operator==(const ShownValue&) const = default;
};

// A polled record as the viewer shows it: a bad status makes it stale and
// keeps whatever value the server still sent with it.
ShownValue shown_value(const std::string& node_id, const hublet::ValueRecord& record);
// The same into `out`, whose strings' storage is reused.
void assign_shown_value(const std::string& node_id, const hublet::ValueRecord& record, ShownValue& out);

// The numbers of one successful poll, for trends: the time the values were
// read (the time stamp they are recorded with) and each live value that is
// a number (value_as_double), in node order.
struct PolledNumbers {
  std::chrono::system_clock::time_point read_at{};
  std::vector<std::string> node_ids;
  std::vector<double> values;
};

// The outcome of one write the user asked for.
struct WriteOutcome {
  std::string node_id;
  double value = 0;
  bool ok = false;
  std::string reason;  // why not, for the user; empty when ok
};

// Every callback may be empty. They run on the session's threads: nodes and
// values on the polling thread, write outcomes and the values read back
// after a write on the writing thread, lines on any of them.
struct SessionEvents {
  // At the start-up and, with several groups, between polls for nodes found
  // later: a poll's values are then for more nodes than the one before.
  std::function<void(const DiscoveredNode&)> node_discovered{};
  // One call per poll, in node order; also one value read back after a write.
  std::function<void(const std::vector<ShownValue>&)> values{};
  std::function<void(const WriteOutcome&)> write_finished{};
  // One call per successful poll, after `values`.
  std::function<void(const PolledNumbers&)> numbers{};
  // Status lines; standard output when empty.
  std::function<void(const std::string&)> say{};
};

}  // namespace varnok::tessaly
