#include "polled_nodes.h"

#include <algorithm>
#include <limits>

namespace varnok::tessaly {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

}  // namespace

const PolledNodes::Group* PolledNodes::find(const std::string& group) const {
  const auto it =
      std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.name == group; });
  return it == groups_.end() ? nullptr : &*it;
}

std::size_t PolledNodes::group_index(const std::string& group) {
  if (const Group* known = find(group)) return static_cast<std::size_t>(known - groups_.data());
  groups_.push_back({.name = group, .live = true, .first_node = size()});
  return groups_.size() - 1;
}

std::size_t PolledNodes::add(const std::string& group, const std::vector<hublet::NodeRecord>& records) {
  // Browsed: what it has now is known.
  if (knows(group)) groups_[group_index(group)].revived = false;
  const std::size_t before = size();
  std::size_t index = 0;
  for (const auto& record : records) {
    if (record.node_type != hublet::HUBLET_NODETYPE_VARIABLE || !record.is_readable) continue;
    std::string node_id = std::to_string(record.namespace_index) + ":" + record.node_name;
    if (!known_.insert(node_id).second) continue;
    if (size() == before) index = group_index(group);
    // The identifier type as browsed: a string id of digits stays a string.
    descriptors_.push_back(
        {record.data_type, record.namespace_index, record.node_name, record.identifier_type});
    display_names_.push_back(record.display_name);
    node_ids_.push_back(std::move(node_id));
    group_of_.push_back(static_cast<std::uint32_t>(index));
  }
  return size() - before;
}

void PolledNodes::truncate(std::size_t size) {
  for (std::size_t i = size; i < node_ids_.size(); ++i) known_.erase(node_ids_[i]);
  node_ids_.resize(std::min(size, node_ids_.size()));
  descriptors_.resize(node_ids_.size());
  display_names_.resize(node_ids_.size());
  group_of_.resize(node_ids_.size());
  while (!groups_.empty() && groups_.back().first_node >= node_ids_.size()) groups_.pop_back();
}

bool PolledNodes::knows(const std::string& group) const {
  return find(group) != nullptr;
}

bool PolledNodes::may_have_new_nodes(const std::string& group) const {
  const Group* g = find(group);
  return g == nullptr || !g->all_live || g->revived;
}

std::vector<PolledNodes::Change> PolledNodes::update_liveness(const std::vector<ShownValue>& values) {
  seen_live_.assign(groups_.size(), 0);
  first_dead_.assign(groups_.size(), kNone);
  const std::size_t n = std::min(values.size(), size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t g = group_of_[i];
    if (values[i].live) {
      seen_live_[g] = 1;
    } else if (first_dead_[g] == kNone) {
      first_dead_[g] = i;
    }
  }
  std::vector<Change> changes;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    // A group none of whose nodes was read tells nothing.
    if (seen_live_[g] == 0 && first_dead_[g] == kNone) continue;
    const bool live = seen_live_[g] != 0;
    groups_[g].all_live = first_dead_[g] == kNone;
    if (live == groups_[g].live) continue;
    groups_[g].live = live;
    if (live) groups_[g].revived = true;
    changes.push_back({groups_[g].name, live, live ? std::string() : values[first_dead_[g]].status});
  }
  return changes;
}

}  // namespace varnok::tessaly
