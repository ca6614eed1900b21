#pragma once

// Thin client of the gateway protocol: one blocking call per operation, each
// with a deadline, cancellable from another thread; and the session's
// Exchange stream, which needs one round trip per period instead of two.

#include <chrono>
#include <cstdint>
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
    kInvalid,      // the gateway refused the request's content or its token
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
  // Sends the token of the file VARNOK_GATEWAY_TOKEN_FILE names with every
  // call, when it names one; a bad file throws GatewayError (kInvalid) here.
  GatewayClient(const std::string& host, int port, std::chrono::milliseconds call_timeout);
  ~GatewayClient();

  // Returns the session id. `info` may name any of the tags. `resume`: the
  // same task registering again, so values clients wrote meanwhile stay.
  std::string register_group(const std::string& group, const std::vector<TagValue>& tags,
                             std::chrono::milliseconds lease, const std::string& client,
                             const TagInfoList& info = {}, bool resume = false);
  std::vector<TagValue> read(const std::string& group, const std::string& session);
  void publish(const std::string& group, const std::string& session, const std::vector<TagValue>& tags);
  // Not affected by cancel(), so a stopping task can still let go.
  void release(const std::string& group, const std::string& session);

  // Opens the session's Exchange stream, replacing any earlier one.
  void open_exchange(const std::string& group, const std::string& session);
  // Asks for the group's values on the stream and waits for them, in
  // registration order. A refusal of changes sent before is thrown here.
  void exchange_read(std::vector<double>& values);
  // Sends a period's changes (tags by their place in the registration
  // order) without waiting: the next read is answered after they are set.
  void exchange_publish(const std::vector<std::uint32_t>& places, const std::vector<double>& values);
  // Half-closes the stream and waits until the gateway has applied all it
  // was sent. Like release(), not affected by cancel().
  void close_exchange();
  // Drops the stream without waiting (after an error).
  void drop_exchange() noexcept;

  // Cancels the call or the stream read under way and makes every later
  // call but release() and close_exchange() fail at once. Safe from any
  // thread.
  void cancel();

  const std::string& target() const noexcept { return target_; }

 private:
  struct Stub;
  struct Exchange;
  template <typename Call>
  void call(Call&& invoke, bool cancellable = true);
  Exchange& exchange();

  std::string target_;
  std::chrono::milliseconds call_timeout_;
  // The `authorization` metadata of every call; empty for none.
  std::string authorization_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<Stub> stub_;
  std::mutex active_mutex_;
  grpc::ClientContext* active_ = nullptr;
  bool cancelled_ = false;
  // Owned here; cancel() reaches its context through active_ while a read
  // waits on it.
  std::unique_ptr<Exchange> exchange_;
};

}  // namespace corvex
