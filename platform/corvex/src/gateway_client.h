#pragma once

// Thin client of the gateway protocol: one blocking call per operation, each
// with a deadline, cancellable from another thread.

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvex/tag_info.h"
#include "corvex/value.h"

namespace grpc {
class Channel;
class ClientContext;
}  // namespace grpc

namespace corvex {

class GatewayError : public std::runtime_error {
 public:
  enum class Kind {
    kUnavailable,  // not reachable, timed out, cancelled
    kRefused,      // the group is served by another task
    kSessionLost,  // the gateway forgot the session: register again
    kInvalid,      // the gateway refused the request's content
  };
  GatewayError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

struct TagValue {
  std::string name;
  double value = 0.0;
};

class GatewayClient {
 public:
  GatewayClient(const std::string& host, int port, std::chrono::milliseconds call_timeout);
  ~GatewayClient();

  // Returns the session id. `info` may name any of the tags.
  std::string register_group(const std::string& group, const std::vector<TagValue>& tags,
                             std::chrono::milliseconds lease, const std::string& client,
                             const TagInfoList& info = {});
  std::vector<TagValue> read(const std::string& group, const std::string& session);
  void publish(const std::string& group, const std::string& session, const std::vector<TagValue>& tags);
  // Not affected by cancel(), so a stopping task can still let go.
  void release(const std::string& group, const std::string& session);

  // Cancels the call under way and makes every later call but release()
  // fail at once. Safe from any thread.
  void cancel();

  const std::string& target() const noexcept { return target_; }

 private:
  struct Stub;
  template <typename Call>
  void call(Call&& invoke, bool cancellable = true);

  std::string target_;
  std::chrono::milliseconds call_timeout_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<Stub> stub_;
  std::mutex active_mutex_;
  grpc::ClientContext* active_ = nullptr;
  bool cancelled_ = false;
};

}  // namespace corvex
