#pragma once

// The nodes a session polls, in the order they were found: append-only, so
// that a node's place, by which a Poll refers to it, never changes. Each
// node is in one group (the folder it was browsed in); a node id found
// again, when a group is browsed again, is not added twice. Also which
// groups had a live value in the latest poll.
//
// Not thread-safe: the polling thread's.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "hublet/hublet.h"
#include "session_events.h"

namespace varnok::tessaly {

class PolledNodes final {
 public:
  // A group that turned dead or live in a poll.
  struct Change {
    std::string group;
    bool live = false;
    std::string status;  // when not live: why its first node is not

    bool operator==(const Change&) const = default;
  };

  // Appends the readable variables among `records`, the children of
  // `group`'s folder as just browsed, that are not known yet, and returns
  // how many. A group is known from its first node on: a folder without
  // readable variables is no group, or not yet.
  std::size_t add(const std::string& group, const std::vector<hublet::NodeRecord>& records);
  // Forgets the nodes from place `size` on (the latest ones, which could not
  // be subscribed), and the groups left without a node.
  void truncate(std::size_t size);

  std::size_t size() const noexcept { return node_ids_.size(); }
  const std::vector<std::string>& node_ids() const noexcept { return node_ids_; }
  const std::vector<hublet::TagDescriptor>& descriptors() const noexcept { return descriptors_; }
  const std::vector<std::string>& display_names() const noexcept { return display_names_; }

  std::size_t group_count() const noexcept { return groups_.size(); }
  bool knows(const std::string& group) const;
  // Whether browsing the group again may find nodes: it is unknown, a value
  // of it was not live in the latest poll, or it came back to life since it
  // was last browsed (add()): its plant may have been replaced by one with
  // other tags.
  bool may_have_new_nodes(const std::string& group) const;

  // After a successful read: values[i] is node i's (the first nodes, as
  // many as were read). Gives the groups that turned dead or live with it,
  // in the order the groups were found.
  std::vector<Change> update_liveness(const std::vector<ShownValue>& values);

 private:
  struct Group {
    std::string name;
    bool live = true;
    std::size_t first_node = 0;
    bool all_live = true;  // in the latest poll that read it
    bool revived = false;  // came back to life since it was browsed
  };
  const Group* find(const std::string& group) const;
  std::size_t group_index(const std::string& group);

  std::vector<std::string> node_ids_;
  std::vector<hublet::TagDescriptor> descriptors_;
  std::vector<std::string> display_names_;
  std::vector<std::uint32_t> group_of_;  // per node, into groups_
  std::unordered_set<std::string> known_;
  std::vector<Group> groups_;
  // Per group, for one poll: a live value seen; the first node not live.
  std::vector<char> seen_live_;
  std::vector<std::size_t> first_dead_;
};

}  // namespace varnok::tessaly
