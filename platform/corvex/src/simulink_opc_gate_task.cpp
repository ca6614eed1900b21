#include "corvex/simulink_opc_gate_task.h"

#include <unistd.h>

#include <cmath>
#include <iostream>
#include <stdexcept>

#include "gateway_client.h"

namespace corvex {

namespace {

using Clock = std::chrono::steady_clock;

void say(const std::string& line) {
  std::cout << line << std::endl;
}

std::vector<TagValue> snapshot(const ValueMap& data) {
  std::vector<TagValue> out;
  out.reserve(data.size());
  for (const auto& [tag, value] : data) out.push_back({tag, value.to_double()});
  return out;
}

std::string client_name() {
  std::string name = "varnok task";
  char buffer[256] = {};
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) {
    const std::string exe(buffer, static_cast<std::size_t>(n));
    name = exe.substr(exe.find_last_of('/') + 1);
  }
  return name + " pid " + std::to_string(getpid());
}

}  // namespace

SimulinkOPCGateTask::SimulinkOPCGateTask(std::string server_address, int port,
                                         std::shared_ptr<Simulink> Simulator, std::string group_tag)
    : SimulinkOPCGateTask(std::move(server_address), port, std::move(Simulator), std::move(group_tag),
                          Options{}) {}

SimulinkOPCGateTask::SimulinkOPCGateTask(std::string server_address, int port,
                                         std::shared_ptr<Simulink> Simulator, std::string group_tag,
                                         Options options)
    : server_address_(std::move(server_address)),
      port_(port),
      simulator_(std::move(Simulator)),
      group_tag_(std::move(group_tag)),
      options_(options) {
  if (!simulator_) throw std::invalid_argument("SimulinkOPCGateTask: no simulator");
  if (group_tag_.empty()) throw std::invalid_argument("SimulinkOPCGateTask: empty group tag");
  if (server_address_.empty()) throw std::invalid_argument("SimulinkOPCGateTask: empty server address");
  if (port_ < 1 || port_ > 65535) {
    throw std::invalid_argument("SimulinkOPCGateTask: port " + std::to_string(port_) + " is not in 1..65535");
  }
  if (!(options_.speed > 0.0) || !std::isfinite(options_.speed)) {
    throw std::invalid_argument("SimulinkOPCGateTask: speed " + std::to_string(options_.speed) +
                                " is not a positive number");
  }
  if (options_.lease.count() <= 0) {
    const auto five_periods = std::chrono::milliseconds(
        static_cast<std::int64_t>(5000.0 * simulator_->get_sampling_time() / options_.speed));
    options_.lease = std::max(five_periods, std::chrono::milliseconds(5000));
  }
  client_ = std::make_unique<GatewayClient>(server_address_, port_, options_.call_timeout);
}

SimulinkOPCGateTask::~SimulinkOPCGateTask() = default;

void SimulinkOPCGateTask::stop() {
  stop_requested_.store(true);
  client_->cancel();
  std::lock_guard lock(wake_mutex_);
  wake_.notify_all();
}

bool SimulinkOPCGateTask::wait_until(Clock::time_point deadline) {
  std::unique_lock lock(wake_mutex_);
  wake_.wait_until(lock, deadline, [this] { return stop_requested_.load(); });
  return !stop_requested_.load();
}

Task::Waiting SimulinkOPCGateTask::waiting() const {
  std::lock_guard lock(waiting_mutex_);
  return waiting_;
}

void SimulinkOPCGateTask::set_waiting(Waiting waiting) {
  std::lock_guard lock(waiting_mutex_);
  waiting_ = std::move(waiting);
}

bool SimulinkOPCGateTask::ensure_registered(bool& reported_outage) {
  if (!session_.empty()) return true;
  try {
    const std::string session =
        client_->register_group(group_tag_, snapshot(simulator_->get_data()), options_.lease, client_name(),
                                simulator_->tag_info(), registered_before_);
    try {
      client_->open_exchange(group_tag_, session);
    } catch (const GatewayError&) {
      // Or the group stays held by this session until its lease runs out.
      try {
        client_->release(group_tag_, session);
      } catch (const GatewayError&) {
      }
      throw;
    }
    session_ = session;
    registered_before_ = true;
    set_waiting({});
    say("Group " + group_tag_ + " registered on gateway " + client_->target() + " (" +
        std::to_string(simulator_->get_data().size()) + " tags)");
    reported_outage = false;
    return true;
  } catch (const GatewayError& e) {
    // A group name or tag set the gateway refuses stays refused: retrying
    // would only hang the caller.
    if (e.kind() == GatewayError::Kind::kInvalid) {
      throw GatewayError(e.kind(), "gateway refused group " + group_tag_ + ": " + e.what());
    }
    if (stop_requested_.load()) return false;
    set_waiting({e.kind() == GatewayError::Kind::kRefused ? Waiting::Cause::kGroupHeld
                                                          : Waiting::Cause::kGatewayUnreachable,
                 e.what()});
    if (!reported_outage && !stop_requested_.load()) {
      say("Gateway: " + std::string(e.what()) + "; retrying every " +
          std::to_string(options_.retry_interval.count()) + " ms");
      reported_outage = true;
    }
    return false;
  }
}

// One round trip: the values on the session's stream; the changes go back
// on it without waiting, and the gateway sets them before it answers the
// next read.
void SimulinkOPCGateTask::run_period() {
  ValueMap& data = simulator_->get_data();
  client_->exchange_read(read_values_);
  if (read_values_.size() != data.size()) {
    throw GatewayError(GatewayError::Kind::kSessionLost,
                       "gateway sent " + std::to_string(read_values_.size()) + " values for the " +
                           std::to_string(data.size()) + " tags of group " + group_tag_);
  }
  before_.clear();
  std::size_t i = 0;
  for (auto& [tag, current] : data) {
    const double value = read_values_[i++];
    // Keep the model's own value (and its integer kind) unless a client
    // changed it.
    if (!(current.to_double() == value) && !Value(value).same_as(current)) current = Value(value);
    before_.push_back(current);
  }
  const std::int64_t count = simulator_->get_task_count() + 1;
  try {
    simulator_->run_task(count);
  } catch (const std::exception& e) {
    say("Task failed in period " + std::to_string(count) + ": " + e.what());
  }
  done_count_.fetch_add(1);
  changed_places_.clear();
  changed_values_.clear();
  i = 0;
  for (const auto& [tag, value] : data) {
    // A tag the task added is not in the group: the gateway refuses it.
    if (i >= before_.size() || !before_[i].same_as(value)) {
      changed_places_.push_back(static_cast<std::uint32_t>(i));
      changed_values_.push_back(value.to_double());
    }
    ++i;
  }
  if (!changed_places_.empty()) client_->exchange_publish(changed_places_, changed_values_);
}

void SimulinkOPCGateTask::run() {
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(simulator_->get_sampling_time() / options_.speed));
  bool reported_outage = false;
  Clock::time_point t0 = Clock::now();
  std::int64_t k = 0;
  while (!stop_requested_.load()) {
    if (!ensure_registered(reported_outage)) {
      if (!wait_until(Clock::now() + options_.retry_interval)) break;
      // Pacing starts afresh after an outage: no burst of missed periods.
      t0 = Clock::now();
      k = 0;
      continue;
    }
    auto start = t0 + k * period;
    const auto now = Clock::now();
    if (now > start + period) {
      // Late by more than a period: skip to the current one.
      k = (now - t0) / period;
      start = t0 + k * period;
    }
    if (!wait_until(start)) break;
    try {
      run_period();
      ++k;
    } catch (const GatewayError& e) {
      if (stop_requested_.load()) break;
      if (e.kind() == GatewayError::Kind::kSessionLost || e.kind() == GatewayError::Kind::kUnavailable) {
        say("Gateway: " + std::string(e.what()) + "; registering group " + group_tag_ + " again");
        reported_outage = true;
      } else {
        say("Gateway refused period " + std::to_string(simulator_->get_task_count()) + ": " + e.what());
      }
      client_->drop_exchange();
      session_.clear();
    }
  }
  if (!session_.empty()) {
    try {
      // The last period's changes are set before the group is let go.
      client_->close_exchange();
    } catch (const GatewayError& e) {
      say("Gateway: " + std::string(e.what()));
    }
    try {
      client_->release(group_tag_, session_);
    } catch (const GatewayError&) {
      // The lease frees the group anyway.
    }
    session_.clear();
  }
}

}  // namespace corvex
