#pragma once

// The viewer's work without a window: opens a source on one OPC UA
// endpoint, browses one parent node (or several, or every group the server
// has), subscribes their readable variables as one group, and polls them
// every period until stopped; writes the values a user asks for on a thread
// of its own; and, when database settings are given, records every poll
// through a store-and-forward recorder (its own thread and queue). The
// viewer window (through OPCHubletWorker) and varnok-record both run one.
//
// Results leave only as copies, through SessionEvents. No thread outlives
// run(): the writer and the recorder are joined before it returns.
//
// Lines on standard output (or SessionEvents::say), one per failure of the
// start-up, which then ends run(): "创建 source 失败" (creating the source),
// "浏览 source 失败" (browsing; with several groups followed by
// " (group NAME)"), "创建 group 失败", "订阅 group 失败" (creating,
// subscribing the group); "未知节点: <node id>" for a write to a node the
// group does not have; the recorder's lines (recorder.h). With several
// groups also, once each time: "group NAME found: N nodes" (at the start,
// or when a rescan finds it), "group NAME: N more nodes", "group NAME: no
// live value (<status of its first node>)" when a poll finds none of its
// values live (its plant stopped, or the server lost it), and "group NAME:
// live again".

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hublet/hublet.h"
#include "polled_nodes.h"
#include "recorder.h"
#include "session_events.h"
#include "tag_writer.h"
#include "tsdbpy/conn.h"
#include "varnok/defaults.h"

namespace varnok::tessaly {

struct SessionSettings {
  std::string endpoint = defaults::opcua_endpoint(defaults::kHost, defaults::kOpcUaPort);
  int parent_namespace_index = 2;
  // The groups polled: the folder ns=parent_namespace_index;s=parent_node_name
  // (the viewer's one group), then those of more_groups, in that order; each
  // must exist at the start. With all_groups instead, every group the
  // server has (group_folders.h), also none at the start.
  std::string parent_node_name = "Demo";
  std::vector<std::string> more_groups{};
  bool all_groups = false;
  std::chrono::milliseconds period{1000};          // from the start of one read to the next; 0: back to back
  tsdbpy::conn::Settings database{};               // empty: nothing recorded, no database call made
  std::optional<int> keep_days{};                  // recorded days kept (TsdbHistorian); none: all
  std::chrono::milliseconds database_retry{5000};  // between connection attempts
  // With several groups: how often the server's groups (the folders under
  // Objects) are browsed again, after a poll, for groups that appeared
  // (all_groups) and for new nodes of groups that may have them
  // (PolledNodes::may_have_new_nodes: a plant replaced by one with other
  // tags). Nodes found are polled and recorded from the next poll on. 0:
  // never.
  std::chrono::milliseconds rescan{5000};

  bool several_groups() const { return all_groups || !more_groups.empty(); }
};

// kStartFailed: start-up failed on its own (its line was said); kStopped:
// polling ran until stop(), or stop() came during start-up.
enum class SessionEnd { kStartFailed, kStopped };

struct SessionCounts {
  std::size_t nodes = 0;
  std::uint64_t polls = 0;                  // successful reads of the group
  std::optional<RecorderCounts> recording;  // none without database settings
  std::size_t groups = 0;                   // groups with nodes
};

class ViewerSession final {
 public:
  using Clock = std::chrono::steady_clock;

  // What a stopping recorder may still spend writing its queue; and what an
  // owner grants run() after stop() before it calls interrupt(): together
  // well within the second a window may take to close.
  // One status line on standard output, whole even when several threads say one.
  static void print_line(const std::string& line);

  static constexpr std::chrono::milliseconds kDrainBudget{400};
  static constexpr std::chrono::milliseconds kStopGrace{500};

  ViewerSession(SessionSettings settings, SessionEvents events);
  // run() must have returned (or never run).
  ~ViewerSession();
  ViewerSession(const ViewerSession&) = delete;
  ViewerSession& operator=(const ViewerSession&) = delete;

  // Start-up, then polling until stop(); then everything is released. Runs
  // on the caller's thread; call once.
  SessionEnd run();

  // From any thread, returning at once: the polling ends at the end of the
  // current read, the recorder writes what is queued for kDrainBudget more.
  void stop();
  // From any thread, returning at once: ends every network and database call
  // in progress (reads, writes, connecting, recording) and fails later ones,
  // so that run() returns within milliseconds. For shutting down, after
  // stop(): there is no way back.
  void interrupt();

  // Queues a write of `value` to `node_id`; from any thread, returns at once.
  // The outcome comes through SessionEvents::write_finished, unless the node
  // is unknown (its line is said) or too many writes wait.
  TagWriter::Request request_write(const std::string& node_id, double value);

  SessionCounts counts() const;

 private:
  // The groups named in the settings (without all_groups).
  std::vector<std::string> group_names() const;
  bool start_up();
  bool start_failed(const std::string& line);
  // Browses one group's folder into nodes_; a line for several groups when
  // it brought nodes. False when the browse failed.
  bool browse_group(const std::string& name, int identifier_type, std::vector<std::string>& lines);
  // The groups a rescan browses: those the server lists that are new or
  // may have new nodes.
  std::vector<std::pair<std::string, int>> groups_to_browse();
  void rescan();
  // Subscribes the nodes from place `from` on; false (and they are
  // forgotten) when that failed.
  bool subscribe_from(std::size_t from);
  // Hands the nodes from place `from` on to those who listen.
  void announce_from(std::size_t from);
  void poll_once();
  void say_liveness();
  void poll_until_stopped();
  void clean_up();
  void say(const std::string& line) const;

  const SessionSettings settings_;
  const SessionEvents events_;
  hublet::HubletLibrary hublet_;
  int source_ = hublet::HUBLET_INVALID_HANDLE;
  int group_ = hublet::HUBLET_INVALID_HANDLE;
  // Filled by start-up and rescans, in discovery order, append-only; the
  // polling thread's.
  PolledNodes nodes_;
  std::vector<int> handles_;  // one per node
  // The polling thread's, kept from one poll to the next for their storage.
  std::vector<hublet::ValueRecord> records_;
  std::vector<ShownValue> shown_;

  std::atomic<bool> running_{true};
  std::atomic<std::uint64_t> polls_{0};
  std::atomic<std::size_t> node_count_{0};
  std::atomic<std::size_t> group_count_{0};
  std::mutex sleep_mutex_;
  std::condition_variable sleep_wake_;

  TagWriter writer_;
  std::unique_ptr<Recorder> recorder_;  // none without database settings
};

}  // namespace varnok::tessaly
