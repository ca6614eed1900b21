#pragma once

// Writes the values a user types, one after another, on a thread and an OPC
// UA connection of its own: a request returns at once whatever the server
// does, a write never waits for a poll in progress, and every outcome is
// reported, with the value the server then holds read back.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hublet/hublet.h"
#include "session_events.h"

namespace varnok::tessaly {

class TagWriter final {
 public:
  using Report = std::function<void(const WriteOutcome&)>;
  using ReadBack = std::function<void(const ShownValue&)>;
  // Node ids with what to subscribe for them.
  using Nodes = std::vector<std::pair<std::string, hublet::TagDescriptor>>;

  // Requests waiting beyond this many are refused: a user does not type
  // faster than a server that answers.
  static constexpr std::size_t kMaxWaiting = 100;

  // Writes through `hublet` (shared with the poller; its interrupt() ends a
  // write in progress) on a source of its own at `endpoint`, connected at
  // the first write.
  TagWriter(hublet::HubletLibrary& hublet, std::string endpoint, int period_ms, Report report,
            ReadBack read_back);
  ~TagWriter();  // finish()
  TagWriter(const TagWriter&) = delete;
  TagWriter& operator=(const TagWriter&) = delete;

  // Starts the thread with the nodes that may be written. Call once.
  void start(Nodes nodes);

  // More nodes that may be written, found after start(). From any thread.
  void add(Nodes nodes);

  enum class Request { kQueued, kUnknownNode, kTooManyWaiting };
  // From any thread; returns at once. Unknown until start().
  Request request(const std::string& node_id, double value);

  // Returns at once; requests still waiting are reported as not written.
  void request_stop();
  void finish();

 private:
  struct Pending {
    std::string node_id;
    double value = 0;
  };
  void run(Nodes nodes);
  void subscribe(int group, const Nodes& nodes, std::map<std::string, int>& handles);
  void write(int group, const std::map<std::string, int>& handles, const Pending& pending);

  hublet::HubletLibrary& hublet_;
  const std::string endpoint_;
  const int period_ms_;
  const Report report_;
  const ReadBack read_back_;

  std::mutex mutex_;  // guards the members below
  std::condition_variable wake_;
  std::set<std::string> known_;  // node ids that may be written
  Nodes added_;                  // added, not subscribed by the thread yet
  std::deque<Pending> waiting_;
  bool stopping_ = false;

  std::thread thread_;
};

}  // namespace varnok::tessaly
