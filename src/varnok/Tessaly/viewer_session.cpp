#include "viewer_session.h"

#include <iostream>

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
        std::make_unique<TsdbHistorian>(recorder_tsdb_settings(settings_.database), settings_.endpoint),
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
    std::vector<std::pair<std::string, hublet::TagDescriptor>> writable;
    for (std::size_t i = 0; i < node_ids_.size(); ++i) writable.emplace_back(node_ids_[i], descriptors_[i]);
    writer_.start(std::move(writable));
    if (recorder_) recorder_->start(node_ids_, queue_capacity(settings_.period, node_ids_.size()));
    poll_until_stopped();
  }
  clean_up();
  return started || !running_.load() ? SessionEnd::kStopped : SessionEnd::kStartFailed;
}

bool ViewerSession::start_up() {
  const int period_ms = static_cast<int>(settings_.period.count());
  source_ = hublet_.create_source(0, settings_.endpoint, period_ms, 1);
  if (source_ == hublet::HUBLET_INVALID_HANDLE) {
    return start_failed("创建 source 失败");
  }
  const auto [browse_status, records] =
      hublet_.browse_source(source_, 1000, settings_.parent_namespace_index, settings_.parent_node_name);
  if (browse_status < 0) {
    return start_failed("浏览 source 失败");
  }
  for (const auto& record : records) {
    if (record.node_type != hublet::HUBLET_NODETYPE_VARIABLE || !record.is_readable) continue;
    std::string node_id = std::to_string(record.namespace_index) + ":" + record.node_name;
    // The identifier type as browsed: a string id of digits stays a string.
    descriptors_.push_back(
        {record.data_type, record.namespace_index, record.node_name, record.identifier_type});
    if (events_.node_discovered) events_.node_discovered({node_id, record.display_name});
    node_ids_.push_back(std::move(node_id));
  }
  node_count_.store(node_ids_.size());
  group_ = hublet_.create_group(source_, "G1");
  if (group_ == hublet::HUBLET_INVALID_HANDLE) {
    return start_failed("创建 group 失败");
  }
  auto [subscribe_status, handles] = hublet_.subscribe_group(group_, descriptors_);
  if (subscribe_status < 0) {
    return start_failed("订阅 group 失败");
  }
  // One handle per node, in order; a short answer leaves the last nodes out.
  handles.resize(std::min(handles.size(), node_ids_.size()));
  node_ids_.resize(handles.size());
  descriptors_.resize(handles.size());
  handles_ = std::move(handles);
  return true;
}

void ViewerSession::poll_until_stopped() {
  while (running_.load()) {
    const auto start = Clock::now();
    poll_once();
    // No catching up after an overrun: the next read starts at once.
    std::unique_lock lock(sleep_mutex_);
    sleep_wake_.wait_until(lock, start + settings_.period, [this] { return !running_.load(); });
  }
}

void ViewerSession::poll_once() {
  const int status = hublet_.read_group_values(group_, handles_, records_);
  if (status == hublet::HUBLET_STATUS_CANCELLED) return;  // shutting down
  if (status < 0) {
    // Nothing on screen is live any more.
    const std::string reason = poll_failure_reason(status);
    shown_.resize(node_ids_.size());
    for (std::size_t i = 0; i < node_ids_.size(); ++i) {
      shown_[i].node_id = node_ids_[i];
      shown_[i].text.clear();
      shown_[i].live = false;
      shown_[i].status = reason;
    }
    if (events_.values) events_.values(shown_);
    return;
  }
  const std::size_t n = std::min(records_.size(), node_ids_.size());
  shown_.resize(n);
  Poll poll{.read_at = std::chrono::system_clock::now(), .nodes = {}, .values = {}};
  poll.nodes.reserve(n);
  poll.values.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    assign_shown_value(node_ids_[i], records_[i], shown_[i]);
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
    for (const std::uint32_t node : poll.nodes) numbers.node_ids.push_back(node_ids_[node]);
    events_.numbers(numbers);
  }
  if (recorder_) recorder_->record(std::move(poll));
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
  SessionCounts counts{.nodes = node_count_.load(), .polls = polls_.load(), .recording = {}};
  if (recorder_) counts.recording = recorder_->counts();
  return counts;
}

}  // namespace varnok::tessaly
