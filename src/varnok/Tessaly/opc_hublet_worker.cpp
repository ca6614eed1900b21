#include "opc_hublet_worker.h"

#include <iostream>

#include "value_text.h"
#include "varnok/number_text.h"

namespace varnok::tessaly {

namespace {

void say(const std::string& line) {
  std::cout << line << std::endl;
}

tsdbpy::conn::Settings settings_or_empty(const std::optional<tsdbpy::conn::Settings>& cfg) {
  return cfg ? *cfg : tsdbpy::conn::Settings{};
}

}  // namespace

OPCHubletWorker::OPCHubletWorker() : OPCHubletWorker(Settings{}) {}

OPCHubletWorker::OPCHubletWorker(Settings settings)
    : QThread(settings.parent),
      endpoint(settings.endpoint),
      parent_namespace_index(settings.parent_namespace_index),
      parent_node_name(settings.parent_node_name),
      sub_interval(settings.sub_interval),
      hublet(std::make_unique<hublet::HubletLibrary>()),
      tsdb_cfg(settings.tsdb_cfg),
      recording_(settings_or_empty(settings.tsdb_cfg), settings.endpoint.toStdString()) {
  hublet->set_log_level(hublet::HUBLET_LOG_LEVEL_WARN);
  // The worker object lives in the GUI thread, so the handler runs inside
  // the window's emit, on the GUI thread.
  connect(this, &OPCHubletWorker::write_request, this, &OPCHubletWorker::handle_write_request,
          Qt::DirectConnection);
}

OPCHubletWorker::~OPCHubletWorker() {
  stop();
  wait();
  hublet->destroy();  // idempotent; covers a worker that never ran
  recording_.close();
}

void OPCHubletWorker::stop() {
  _running.store(false);
  std::lock_guard lock(sleep_mutex_);
  sleep_wake_.notify_all();
}

bool OPCHubletWorker::start_up() {
  source = hublet->create_source(0, endpoint.toStdString(), sub_interval, 1);
  if (source == hublet::HUBLET_INVALID_HANDLE) {
    say("创建 source 失败");
    return false;
  }
  const auto [browse_status, records] =
      hublet->browse_source(source, 1000, parent_namespace_index, parent_node_name.toStdString());
  if (browse_status < 0) {
    say("浏览 source 失败");
    return false;
  }
  std::vector<hublet::TagDescriptor> descriptors;
  for (const auto& record : records) {
    if (record.node_type != hublet::HUBLET_NODETYPE_VARIABLE || !record.is_readable) continue;
    hublet::TagDescriptor descriptor{record.data_type, record.namespace_index, record.node_name};
    const std::string node_id = std::to_string(record.namespace_index) + ":" + record.node_name;
    tag_map.set(node_id, descriptor);
    descriptors.push_back(descriptor);
    emit node_discovered(QString::fromStdString(node_id), QString::fromStdString(record.display_name));
  }
  group = hublet->create_group(source, "G1");
  if (group == hublet::HUBLET_INVALID_HANDLE) {
    say("创建 group 失败");
    return false;
  }
  const auto [subscribe_status, handles] = hublet->subscribe_group(group, descriptors);
  if (subscribe_status < 0) {
    say("订阅 group 失败");
    return false;
  }
  std::size_t i = 0;
  for (const auto& [node_id, descriptor] : tag_map) {
    if (i == handles.size()) break;
    handle_map.set(node_id, handles[i++]);
  }
  handles_ready_.store(true, std::memory_order_release);
  recording_.prepare(tag_map.keys());
  return true;
}

void OPCHubletWorker::poll_once() {
  std::vector<int> handles;
  handles.reserve(handle_map.size());
  for (const auto& [node_id, handle] : handle_map) handles.push_back(handle);
  const auto [status, values] = hublet->read_group_values(group, handles);
  if (status < 0) return;
  recording_.begin_cycle();
  std::size_t i = 0;
  for (const auto& [node_id, handle] : handle_map) {
    if (i == values.size()) break;
    const hublet::ValueRecord& record = values[i++];
    emit data_changed(QString::fromStdString(node_id), QString::fromStdString(value_text(record)));
    recording_.collect(node_id, record);
  }
  recording_.write();
}

void OPCHubletWorker::sleep_rest_of_period(std::chrono::steady_clock::time_point start) {
  const auto period_end = start + std::chrono::milliseconds(sub_interval);
  std::unique_lock lock(sleep_mutex_);
  // stop() wakes the sleep so that closing the viewer does not wait out a period.
  sleep_wake_.wait_until(lock, period_end, [this] { return !_running.load(); });
}

void OPCHubletWorker::run() {
  if (!start_up()) {
    cleanup();  // release what start-up created before it failed
    return;
  }
  while (_running.load()) {
    const auto start = std::chrono::steady_clock::now();
    poll_once();
    sleep_rest_of_period(start);
  }
  cleanup();
}

void OPCHubletWorker::cleanup() {
  if (group != hublet::HUBLET_INVALID_HANDLE) hublet->destroy_group(group);
  if (source != hublet::HUBLET_INVALID_HANDLE) hublet->destroy_source(source);
  hublet->destroy();
  recording_.close();
}

void OPCHubletWorker::handle_write_request(const QString& node_id_str, const QVariant& new_value) {
  const std::string node_id = node_id_str.toStdString();
  const int* handle = handles_ready_.load(std::memory_order_acquire) ? handle_map.find(node_id) : nullptr;
  if (handle == nullptr) {
    say("未知节点: " + node_id);
    return;
  }
  std::optional<double> value;
  bool numeric = false;
  switch (static_cast<QMetaType::Type>(new_value.type())) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
      value = new_value.toDouble(&numeric);
      if (!numeric) value.reset();
      break;
    default:
      value = parse_number(new_value.toString().toStdString());
  }
  if (!value) {
    say("写入失败，无法转换为浮点数: " + new_value.toString().toStdString());
    return;
  }
  hublet->write_group_values(group, {*handle}, {*value});
}

}  // namespace varnok::tessaly
