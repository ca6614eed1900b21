#include "tag_writer.h"

#include "status_text.h"

namespace varnok::tessaly {

namespace {

// The server has the node's value to tell after these outcomes; after the
// others (no connection, an interrupt) a read would only wait in vain.
bool server_answered(int status) {
  return status == hublet::HUBLET_STATUS_GOOD || status == hublet::HUBLET_STATUS_SERVER_REFUSED ||
         status == hublet::HUBLET_STATUS_VALUE_DOES_NOT_FIT;
}

}  // namespace

TagWriter::TagWriter(hublet::HubletLibrary& hublet, std::string endpoint, int period_ms, Report report,
                     ReadBack read_back)
    : hublet_(hublet),
      endpoint_(std::move(endpoint)),
      period_ms_(period_ms),
      report_(std::move(report)),
      read_back_(std::move(read_back)) {}

TagWriter::~TagWriter() {
  request_stop();
  finish();
}

void TagWriter::start(Nodes nodes) {
  {
    std::lock_guard lock(mutex_);
    for (const auto& [node_id, descriptor] : nodes) known_.insert(node_id);
  }
  thread_ = std::thread([this, nodes = std::move(nodes)]() mutable { run(std::move(nodes)); });
}

void TagWriter::add(Nodes nodes) {
  std::lock_guard lock(mutex_);
  for (auto& node : nodes) {
    known_.insert(node.first);
    added_.push_back(std::move(node));
  }
}

TagWriter::Request TagWriter::request(const std::string& node_id, double value) {
  std::lock_guard lock(mutex_);
  if (!known_.contains(node_id)) return Request::kUnknownNode;
  if (waiting_.size() >= kMaxWaiting) return Request::kTooManyWaiting;
  waiting_.push_back({node_id, value});
  wake_.notify_all();
  return Request::kQueued;
}

void TagWriter::request_stop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
}

void TagWriter::finish() {
  if (thread_.joinable()) thread_.join();
}

void TagWriter::subscribe(int group, const Nodes& nodes, std::map<std::string, int>& handles) {
  if (group == hublet::HUBLET_INVALID_HANDLE || nodes.empty()) return;
  std::vector<hublet::TagDescriptor> descriptors;
  for (const auto& [node_id, descriptor] : nodes) descriptors.push_back(descriptor);
  const auto [status, items] = hublet_.subscribe_group(group, descriptors);
  for (std::size_t i = 0; status >= 0 && i < items.size() && i < nodes.size(); ++i)
    handles[nodes[i].first] = items[i];
}

void TagWriter::run(Nodes nodes) {
  // mode 0: connected by the first write, so that a viewer nobody writes
  // with holds one session on the server, not two.
  const int source = hublet_.create_source(0, endpoint_, period_ms_, 0);
  const int group = source != hublet::HUBLET_INVALID_HANDLE ? hublet_.create_group(source, "G1-writes")
                                                            : hublet::HUBLET_INVALID_HANDLE;
  std::map<std::string, int> handles;
  subscribe(group, nodes, handles);

  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) break;
    const Pending pending = waiting_.front();
    waiting_.pop_front();
    const Nodes added = std::exchange(added_, {});
    lock.unlock();
    subscribe(group, added, handles);
    write(group, handles, pending);
    lock.lock();
  }
  const std::deque<Pending> unsent = std::exchange(waiting_, {});
  lock.unlock();
  for (const Pending& p : unsent) {
    if (report_) report_({p.node_id, p.value, false, "not sent: the viewer stopped"});
  }
  if (group != hublet::HUBLET_INVALID_HANDLE) hublet_.destroy_group(group);
  if (source != hublet::HUBLET_INVALID_HANDLE) hublet_.destroy_source(source);
}

void TagWriter::write(int group, const std::map<std::string, int>& handles, const Pending& pending) {
  const auto it = handles.find(pending.node_id);
  std::string reason;
  int status = hublet::HUBLET_STATUS_BAD_HANDLE;
  if (it == handles.end()) {
    reason = write_failure_reason(status);
  } else {
    const auto [call_status, results] =
        hublet_.write_group_items(group, {it->second}, {hublet::ExactValue{pending.value}});
    status = call_status;
    if (call_status < 0 || results.size() != 1) {
      reason = write_failure_reason(call_status < 0 ? call_status : int{hublet::HUBLET_STATUS_BAD_HANDLE});
    } else {
      status = results[0].status;
      if (status != hublet::HUBLET_STATUS_GOOD) reason = write_failure_reason(results[0]);
    }
  }
  const bool ok = status == hublet::HUBLET_STATUS_GOOD;
  if (report_) report_({pending.node_id, pending.value, ok, reason});
  if (!server_answered(status) || !read_back_) return;
  const auto [read_status, records] = hublet_.read_group_values(group, {it->second});
  if (read_status >= 0 && records.size() == 1) read_back_(shown_value(pending.node_id, records[0]));
}

}  // namespace varnok::tessaly
