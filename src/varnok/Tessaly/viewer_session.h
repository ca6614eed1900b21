#pragma once

// The viewer's work without a window: opens a source on one OPC UA
// endpoint, browses one parent node, subscribes its readable variables as
// one group, and polls them every period until stopped; writes the values a
// user asks for on a thread of its own; and, when database settings are
// given, records every poll through a store-and-forward recorder (its own
// thread and queue). The viewer window (through OPCHubletWorker) and
// varnok-record both run one.
//
// Results leave only as copies, through SessionEvents. No thread outlives
// run(): the writer and the recorder are joined before it returns.
//
// Lines on standard output (or SessionEvents::say), one per failure of the
// start-up, which then ends run(): "创建 source 失败" (creating the source),
// "浏览 source 失败" (browsing), "创建 group 失败", "订阅 group 失败"
// (creating, subscribing the group); "未知节点: <node id>" for a write to a
// node the group does not have; the recorder's lines (recorder.h).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hublet/hublet.h"
#include "recorder.h"
#include "session_events.h"
#include "tag_writer.h"
#include "tsdbpy/conn.h"
#include "varnok/defaults.h"

namespace varnok::tessaly {

struct SessionSettings {
  std::string endpoint = defaults::opcua_endpoint(defaults::kHost, defaults::kOpcUaPort);
  int parent_namespace_index = 2;
  std::string parent_node_name = "Demo";
  std::chrono::milliseconds period{1000};          // from the start of one read to the next; 0: back to back
  tsdbpy::conn::Settings database{};               // empty: nothing recorded, no database call made
  std::chrono::milliseconds database_retry{5000};  // between connection attempts
};

// kStartFailed: start-up failed on its own (its line was said); kStopped:
// polling ran until stop(), or stop() came during start-up.
enum class SessionEnd { kStartFailed, kStopped };

struct SessionCounts {
  std::size_t nodes = 0;
  std::uint64_t polls = 0;                  // successful reads of the group
  std::optional<RecorderCounts> recording;  // none without database settings
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
  bool start_up();
  bool start_failed(const std::string& line);
  void poll_once();
  void poll_until_stopped();
  void clean_up();
  void say(const std::string& line) const;

  const SessionSettings settings_;
  const SessionEvents events_;
  hublet::HubletLibrary hublet_;
  int source_ = hublet::HUBLET_INVALID_HANDLE;
  int group_ = hublet::HUBLET_INVALID_HANDLE;
  // Filled by start-up, in discovery order; read-only afterwards.
  std::vector<std::string> node_ids_;
  std::vector<hublet::TagDescriptor> descriptors_;
  std::vector<int> handles_;
  // The polling thread's, kept from one poll to the next for their storage.
  std::vector<hublet::ValueRecord> records_;
  std::vector<ShownValue> shown_;

  std::atomic<bool> running_{true};
  std::atomic<std::uint64_t> polls_{0};
  std::atomic<std::size_t> node_count_{0};
  std::mutex sleep_mutex_;
  std::condition_variable sleep_wake_;

  TagWriter writer_;
  std::unique_ptr<Recorder> recorder_;  // none without database settings
};

}  // namespace varnok::tessaly
