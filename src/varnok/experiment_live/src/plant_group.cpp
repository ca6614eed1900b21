#include "plant_group.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "status_text.h"
#include "varnok/errors.h"

namespace varnok::experiment_live {

namespace {

constexpr int kNamespace = 2;
constexpr std::string_view kRunCount = "RunCount";

// A number read as the plant published it: integers stay integers.
std::optional<corvex::Value> number_of(const hublet::ValueRecord& record) {
  if (hublet::is_bad_status(record.status_code)) return std::nullopt;
  if (const auto* i = std::get_if<std::int64_t>(&record.value)) return corvex::Value(*i);
  if (const auto* d = std::get_if<double>(&record.value)) return corvex::Value(*d);
  if (const auto* u = std::get_if<std::uint64_t>(&record.value))
    return corvex::Value(static_cast<double>(*u));
  return std::nullopt;
}

std::optional<std::int64_t> whole(const corvex::Value& value) {
  if (value.is_integer()) return value.integer();
  const double d = value.to_double();
  if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 9.0e15) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

}  // namespace

PlantGroup::PlantGroup(hublet::HubletLibrary& hublet, const std::atomic<bool>& stopping, std::string endpoint,
                       std::string group)
    : hublet_(hublet), stopping_(stopping), endpoint_(std::move(endpoint)), group_(std::move(group)) {}

bool PlantGroup::open(std::chrono::milliseconds period_hint) {
  const std::string named = "group \"" + group_ + "\"";
  source_ = hublet_.create_source(0, endpoint_, static_cast<int>(period_hint.count()), 1);
  if (source_ == hublet::HUBLET_INVALID_HANDLE) {
    if (stopping_.load()) return false;
    const std::string why = hublet::last_transport_error();
    if (why.empty())
      throw UsageError("\"" + endpoint_ + "\" is not an OPC UA endpoint (expected opc.tcp://HOST:PORT)");
    throw RunError("cannot reach the OPC UA server " + endpoint_ + ": " + why);
  }
  const auto [status, records] =
      hublet_.browse_source(source_, 1000, kNamespace, group_, hublet::HUBLET_IDTYPE_STRING);
  if (status == hublet::HUBLET_STATUS_CANCELLED || stopping_.load()) return false;
  if (status == hublet::HUBLET_STATUS_SERVER_REFUSED) {
    throw SetupError(named + " does not exist on " + endpoint_ + " (" +
                     hublet::server_status_text(hublet::last_server_status()) + ")");
  }
  if (status < 0) {
    throw RunError("cannot browse " + named + " on " + endpoint_ + ": " +
                   tessaly::poll_failure_reason(status));
  }
  const std::string prefix = group_ + ".";
  for (const auto& record : records) {
    if (record.node_type != hublet::HUBLET_NODETYPE_VARIABLE || !record.is_readable) continue;
    if (record.namespace_index != kNamespace || !record.node_name.starts_with(prefix)) continue;
    tags_.push_back({record.node_name.substr(prefix.size()),
                     {record.data_type, record.namespace_index, record.node_name, record.identifier_type}});
  }
  if (find(kRunCount) == nullptr) {
    throw SetupError(named + " on " + endpoint_ +
                     " has no RunCount: it is not a plant's group, and periods cannot be counted");
  }
  return true;
}

const PlantGroup::Tag* PlantGroup::find(std::string_view tag) const {
  const auto it = std::find_if(tags_.begin(), tags_.end(), [&](const Tag& t) { return t.name == tag; });
  return it == tags_.end() ? nullptr : &*it;
}

bool PlantGroup::has_tag(std::string_view tag) const {
  return find(tag) != nullptr;
}

bool PlantGroup::subscribe(const std::vector<std::string>& tags) {
  subscribed_ = {*find(kRunCount)};
  for (const auto& name : tags) {
    const bool seen =
        std::any_of(subscribed_.begin(), subscribed_.end(), [&](const Tag& t) { return t.name == name; });
    if (!seen) subscribed_.push_back(*find(name));
  }
  handle_ = hublet_.create_group(source_, "experiment");
  if (handle_ == hublet::HUBLET_INVALID_HANDLE) throw RunError("cannot make a hublet group");
  std::vector<hublet::TagDescriptor> nodes;
  for (const auto& tag : subscribed_) nodes.push_back(tag.node);
  auto [status, items] = hublet_.subscribe_group(handle_, nodes);
  if (status == hublet::HUBLET_STATUS_CANCELLED || stopping_.load()) return false;
  if (status < 0 || items.size() != nodes.size()) {
    throw RunError("cannot subscribe the tags of group \"" + group_ + "\": " + hublet::status_name(status));
  }
  items_ = std::move(items);
  return true;
}

std::size_t PlantGroup::index_of(std::string_view tag) const {
  for (std::size_t i = 0; i < subscribed_.size(); ++i) {
    if (subscribed_[i].name == tag) return i;
  }
  return subscribed_.size();
}

std::vector<std::string> PlantGroup::node_ids() const {
  std::vector<std::string> ids;
  for (const auto& tag : subscribed_)
    ids.push_back(std::to_string(tag.node.namespace_index) + ":" + tag.node.tag_name);
  return ids;
}

int PlantGroup::read(Snapshot& out) {
  const auto [status, records] = hublet_.read_group_values(handle_, items_);
  if (status < 0) return status;
  out.read_at = std::chrono::system_clock::now();
  out.values.assign(subscribed_.size(), corvex::Value(std::numeric_limits<double>::quiet_NaN()));
  out.good.assign(subscribed_.size(), false);
  for (std::size_t i = 0; i < records.size() && i < subscribed_.size(); ++i) {
    if (const auto number = number_of(records[i])) {
      out.values[i] = *number;
      out.good[i] = true;
    }
  }
  const std::optional<std::int64_t> count = out.good[0] ? whole(out.values[0]) : std::nullopt;
  out.live = count.has_value();
  out.run_count = count.value_or(out.run_count);
  out.run_count_status.clear();
  if (!out.live) {
    out.run_count_status = records.empty() ? std::string("no value")
                           : hublet::is_bad_status(records[0].status_code)
                               ? tessaly::value_status_text(records[0].status_code)
                               : std::string("not a whole number");
  }
  return status;
}

int PlantGroup::write(const std::vector<std::size_t>& indices, const std::vector<double>& values) {
  std::vector<int> items;
  for (const std::size_t i : indices) items.push_back(items_.at(i));
  return hublet_.write_group_values(handle_, items, values);
}

void PlantGroup::close() {
  if (source_ != hublet::HUBLET_INVALID_HANDLE) hublet_.destroy_source(source_);
  source_ = handle_ = hublet::HUBLET_INVALID_HANDLE;
}

}  // namespace varnok::experiment_live
