#include "viewer_session.h"

#include <algorithm>
#include <iostream>

#include "group_folders.h"
#include "status_text.h"
#include "tsdb_historian.h"
#include "tsdb_settings.h"
#include "value_text.h"

namespace varnok::tessaly {

void ViewerSession::print_line(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::cout << line << std::endl;
}

ViewerSession::ViewerSession(SessionSettings settings, SessionEvents events)
    : settings_(std::move(settings)),
      events_(std::move(events)),
      writer_(
          hublet_, settings_.endpoint, static_cast<int>(settings_.period.count()),
          [this](const WriteOutcome& outcome) {
            if (events_.write_finished) events_.write_finished(outcome);
          },
          [this](const ShownValue& value) {
            if (events_.values) events_.values({value});
          }) {
  hublet_.set_log_level(hublet::HUBLET_LOG_LEVEL_WARN);
  if (!settings_.database.empty()) {
    recorder_ = std::make_unique<Recorder>(
        std::make_unique<TsdbHistorian>(recorder_tsdb_settings(settings_.database), settings_.endpoint,
                                        settings_.keep_days),
        settings_.database_retry, [this](const std::string& line) { say(line); });
  }
}

ViewerSession::~ViewerSession() = default;

void ViewerSession::say(const std::string& line) const {
  if (events_.say) {
    events_.say(line);
  } else {
    print_line(line);
  }
}

bool ViewerSession::start_failed(const std::string& line) {
  // A start-up cut short by stop() or interrupt() is no failure to report.
  if (!running_.load()) return false;
  // The server that cannot be reached, and why, after the usual words.
  const std::string why = hublet::last_transport_error();
  say(why.empty() ? line : line + ": " + why);
  return false;
}

SessionEnd ViewerSession::run() {
  const bool started = start_up();
  if (started) {
    TagWriter::Nodes writable;
    for (std::size_t i = 0; i < nodes_.size(); ++i)
      writable.emplace_back(nodes_.node_ids()[i], nodes_.descriptors()[i]);
    writer_.start(std::move(writable));
    if (recorder_) recorder_->start(nodes_.node_ids(), queue_capacity(settings_.period, nodes_.size()));
    poll_until_stopped();
  }
  clean_up();
  return started || !running_.load() ? SessionEnd::kStopped : SessionEnd::kStartFailed;
}

std::vector<std::string> ViewerSession::group_names() const {
  std::vector<std::string> names{settings_.parent_node_name};
  names.insert(names.end(), settings_.more_groups.begin(), settings_.more_groups.end());
  return names;
}

bool ViewerSession::browse_group(const std::string& name, int identifier_type,
                                 std::vector<std::string>& lines) {
  const auto [status, records] =
      hublet_.browse_source(source_, 1000, settings_.parent_namespace_index, name, identifier_type);
  if (status < 0) return false;
  const bool known = nodes_.knows(name);
  const std::size_t added = nodes_.add(name, records);
  if (added > 0 && settings_.several_groups()) {
    const std::string nodes = added == 1 ? " node" : " nodes";
    lines.push_back("group " + name +
                    (known ? ": " + std::to_string(added) + " more" + nodes
                           : " found: " + std::to_string(added) + nodes));
  }
  return true;
}

bool ViewerSession::start_up() {
  const int period_ms = static_cast<int>(settings_.period.count());
  source_ = hublet_.create_source(0, settings_.endpoint, period_ms, 1);
  if (source_ == hublet::HUBLET_INVALID_HANDLE) {
    return start_failed("创建 source 失败");
  }
  std::vector<std::string> lines;
  if (settings_.all_groups) {
    const auto [status, objects] = hublet_.browse_source(source_, 1000, kObjectsNamespace, kObjectsNodeName);
    if (status < 0) return start_failed("浏览 source 失败");
    // A folder that cannot be browsed now is tried again by the rescans.
    for (const auto& folder : group_folders(objects, settings_.parent_namespace_index))
      browse_group(folder.node_name, folder.identifier_type, lines);
  } else {
    for (const auto& name : group_names()) {
      if (browse_group(name, hublet::HUBLET_IDTYPE_AUTO, lines)) continue;
      return start_failed(settings_.several_groups() ? "浏览 source 失败 (group " + name + ")"
                                                     : "浏览 source 失败");
    }
  }
  announce_from(0);
  group_ = hublet_.create_group(source_, "G1");
  if (group_ == hublet::HUBLET_INVALID_HANDLE) {
    return start_failed("创建 group 失败");
  }
  auto [subscribe_status, handles] = hublet_.subscribe_group(group_, nodes_.descriptors());
  if (subscribe_status < 0) {
    return start_failed("订阅 group 失败");
  }
  // One handle per node, in order; a short answer leaves the last nodes out.
  nodes_.truncate(handles.size());
  handles_ = std::move(handles);
  handles_.resize(nodes_.size());
  node_count_.store(nodes_.size());
  group_count_.store(nodes_.group_count());
  for (const auto& line : lines) say(line);
  return true;
}

std::vector<std::pair<std::string, int>> ViewerSession::groups_to_browse() {
  std::vector<std::pair<std::string, int>> groups;
  // Only folders the server lists: a group it lost is not asked for (and
  // refused, and logged) at every rescan.
  const auto [status, objects] = hublet_.browse_source(source_, 1000, kObjectsNamespace, kObjectsNodeName);
  if (status < 0) return groups;  // a server that does not answer now is said by the polls
  const std::vector<std::string> named = settings_.all_groups ? std::vector<std::string>() : group_names();
  for (const auto& folder : group_folders(objects, settings_.parent_namespace_index)) {
    const std::string& name = folder.node_name;
    if (!settings_.all_groups && std::find(named.begin(), named.end(), name) == named.end()) continue;
    if (nodes_.may_have_new_nodes(name)) groups.emplace_back(name, folder.identifier_type);
  }
  return groups;
}

void ViewerSession::rescan() {
  const std::size_t before = nodes_.size();
  std::vector<std::string> lines;
  for (const auto& [name, identifier_type] : groups_to_browse()) {
    if (!running_.load()) break;
    browse_group(name, identifier_type, lines);
  }
  if (nodes_.size() == before || !subscribe_from(before)) return;
  announce_from(before);
  for (const auto& line : lines) say(line);
}

bool ViewerSession::subscribe_from(std::size_t from) {
  const std::vector<hublet::TagDescriptor> added(
      nodes_.descriptors().begin() + static_cast<std::ptrdiff_t>(from), nodes_.descriptors().end());
  const auto [status, handles] = hublet_.subscribe_group(group_, added);
  if (status < 0 || handles.size() != added.size()) {
    nodes_.truncate(from);
    say("订阅 group 失败");
    return false;
  }
  handles_.insert(handles_.end(), handles.begin(), handles.end());
  TagWriter::Nodes writable;
  std::vector<std::string> node_ids;
  for (std::size_t i = from; i < nodes_.size(); ++i) {
    writable.emplace_back(nodes_.node_ids()[i], nodes_.descriptors()[i]);
    node_ids.push_back(nodes_.node_ids()[i]);
  }
  writer_.add(std::move(writable));
  if (recorder_) recorder_->add(std::move(node_ids), queue_capacity(settings_.period, nodes_.size()));
  node_count_.store(nodes_.size());
  group_count_.store(nodes_.group_count());
  return true;
}

void ViewerSession::announce_from(std::size_t from) {
  if (!events_.node_discovered) return;
  for (std::size_t i = from; i < nodes_.size(); ++i)
    events_.node_discovered({nodes_.node_ids()[i], nodes_.display_names()[i]});
}

void ViewerSession::poll_until_stopped() {
  const bool rescans = settings_.several_groups() && settings_.rescan.count() > 0;
  auto next_rescan = Clock::now() + settings_.rescan;
  while (running_.load()) {
    const auto start = Clock::now();
    poll_once();
    if (rescans && running_.load() && Clock::now() >= next_rescan) {
      rescan();
      next_rescan = Clock::now() + settings_.rescan;
    }
    // No catching up after an overrun: the next read starts at once.
    std::unique_lock lock(sleep_mutex_);
    sleep_wake_.wait_until(lock, start + settings_.period, [this] { return !running_.load(); });
  }
}

void ViewerSession::poll_once() {
  // All groups, none found yet: nothing to read.
  if (handles_.empty() && settings_.several_groups()) return;
  const int status = hublet_.read_group_values(group_, handles_, records_);
  if (status == hublet::HUBLET_STATUS_CANCELLED) return;  // shutting down
  const std::vector<std::string>& node_ids = nodes_.node_ids();
  if (status < 0) {
    // Nothing on screen is live any more.
    const std::string reason = poll_failure_reason(status);
    shown_.resize(node_ids.size());
    for (std::size_t i = 0; i < node_ids.size(); ++i) {
      shown_[i].node_id = node_ids[i];
      shown_[i].text.clear();
      shown_[i].live = false;
      shown_[i].status = reason;
    }
    if (events_.values) events_.values(shown_);
    return;
  }
  const std::size_t n = std::min(records_.size(), node_ids.size());
  shown_.resize(n);
  Poll poll{.read_at = std::chrono::system_clock::now(), .nodes = {}, .values = {}};
  poll.nodes.reserve(n);
  poll.values.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    assign_shown_value(node_ids[i], records_[i], shown_[i]);
    if (const std::optional<double> value = value_as_double(records_[i])) {  // none for a bad status
      poll.nodes.push_back(static_cast<std::uint32_t>(i));
      poll.values.push_back(*value);
    }
  }
  polls_.fetch_add(1);
  if (events_.values) events_.values(shown_);
  if (events_.numbers) {
    PolledNumbers numbers{.read_at = poll.read_at, .node_ids = {}, .values = poll.values};
    numbers.node_ids.reserve(poll.nodes.size());
    for (const std::uint32_t node : poll.nodes) numbers.node_ids.push_back(node_ids[node]);
    events_.numbers(numbers);
  }
  if (recorder_) recorder_->record(std::move(poll));
  if (settings_.several_groups()) say_liveness();
}

void ViewerSession::say_liveness() {
  for (const PolledNodes::Change& change : nodes_.update_liveness(shown_)) {
    say(change.live ? "group " + change.group + ": live again"
                    : "group " + change.group + ": no live value (" + change.status + ")");
  }
}

void ViewerSession::clean_up() {
  writer_.request_stop();
  writer_.finish();
  if (group_ != hublet::HUBLET_INVALID_HANDLE) hublet_.destroy_group(group_);
  if (source_ != hublet::HUBLET_INVALID_HANDLE) hublet_.destroy_source(source_);
  hublet_.destroy();
  if (recorder_) {
    recorder_->request_stop(Clock::now() + kDrainBudget);  // no-op when stop() set it already
    recorder_->finish();
  }
}

void ViewerSession::stop() {
  running_.store(false);
  {
    std::lock_guard lock(sleep_mutex_);
    sleep_wake_.notify_all();
  }
  writer_.request_stop();
  if (recorder_) recorder_->request_stop(Clock::now() + kDrainBudget);
}

void ViewerSession::interrupt() {
  stop();
  hublet_.interrupt();
  if (recorder_) recorder_->interrupt();
}

TagWriter::Request ViewerSession::request_write(const std::string& node_id, double value) {
  const TagWriter::Request request = writer_.request(node_id, value);
  if (request == TagWriter::Request::kUnknownNode) say("未知节点: " + node_id);
  return request;
}

SessionCounts ViewerSession::counts() const {
  SessionCounts counts{
      .nodes = node_count_.load(), .polls = polls_.load(), .recording = {}, .groups = group_count_.load()};
  if (recorder_) counts.recording = recorder_->counts();
  return counts;
}

}  // namespace varnok::tessaly
