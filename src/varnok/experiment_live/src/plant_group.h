#pragma once

// One plant's group on the OPC UA server, as the live experiment sees it:
// the tags it has, and RunCount with the tags of the experiment subscribed
// as one hublet group, read and written whole.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvex/value.h"
#include "hublet/hublet.h"

namespace varnok::experiment_live {

// One Read of the subscribed tags.
struct Snapshot {
  std::int64_t run_count = 0;
  // RunCount came with a good status and a whole number: a plant serves the group.
  bool live = false;
  std::string run_count_status;       // why not live
  std::vector<corvex::Value> values;  // per subscribed tag; NaN without a good number
  std::vector<bool> good;             // per subscribed tag: a live number
  std::chrono::system_clock::time_point read_at{};
};

class PlantGroup final {
 public:
  // Calls go through `hublet`, whose interrupt() ends any of them; a call
  // that fails once `stopping` is set counts as cancelled.
  PlantGroup(hublet::HubletLibrary& hublet, const std::atomic<bool>& stopping, std::string endpoint,
             std::string group);

  // Connects and browses the group. Throws RunError when the server cannot
  // be reached or browsed, SetupError when it has no such group or the
  // group has no RunCount, UsageError for an endpoint that is none. False
  // when the call was cancelled.
  bool open(std::chrono::milliseconds period_hint);

  bool has_tag(std::string_view tag) const;
  const std::string& group() const noexcept { return group_; }

  // Subscribes RunCount followed by `tags` (each once; RunCount among them
  // is not repeated). Afterwards index_of gives a tag's place in a
  // snapshot. False when the call was cancelled; throws RunError otherwise.
  bool subscribe(const std::vector<std::string>& tags);
  std::size_t index_of(std::string_view tag) const;
  // The subscribed tags' node ids as the viewer records them: 2:<group>.<tag>.
  std::vector<std::string> node_ids() const;

  // A hublet status; `out` is filled only when it is HUBLET_STATUS_GOOD.
  int read(Snapshot& out);
  // Writes values[i] to the subscribed tag at indices[i], in one call.
  int write(const std::vector<std::size_t>& indices, const std::vector<double>& values);

  void close();

 private:
  struct Tag {
    std::string name;  // without the group's prefix
    hublet::TagDescriptor node;
  };

  const Tag* find(std::string_view tag) const;

  hublet::HubletLibrary& hublet_;
  const std::atomic<bool>& stopping_;
  const std::string endpoint_;
  const std::string group_;
  int source_ = hublet::HUBLET_INVALID_HANDLE;
  int handle_ = hublet::HUBLET_INVALID_HANDLE;
  std::vector<Tag> tags_;        // as browsed
  std::vector<Tag> subscribed_;  // RunCount first
  std::vector<int> items_;
};

}  // namespace varnok::experiment_live
