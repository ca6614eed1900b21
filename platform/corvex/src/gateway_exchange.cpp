// The session's Exchange stream, driven on the caller's thread through a
// completion queue of its own, so that every wait has a deadline and a
// read can be cancelled from another thread like a unary call.

#include <array>
#include <chrono>

#include "gateway_client.h"
#include "gateway_parts.h"
#include "gateway_stream.h"

namespace corvex {

using namespace stream_ops;

GatewayClient::Exchange& GatewayClient::exchange() {
  if (!exchange_) {
    throw GatewayError(GatewayError::Kind::kUnavailable, "no exchange stream open with gateway " + target_);
  }
  return *exchange_;
}

void GatewayClient::drop_exchange() noexcept {
  if (!exchange_) return;
  // Operations the library never gave back would make destroying their
  // queue undefined: keep it rather than crash.
  if (!exchange_->shut()) static_cast<void>(exchange_.release());
  exchange_.reset();
}

void GatewayClient::open_exchange(const std::string& group, const std::string& session) {
  drop_exchange();
  {
    std::lock_guard lock(active_mutex_);
    if (cancelled_) throw GatewayError(GatewayError::Kind::kUnavailable, "cancelled");
  }
  exchange_ = std::make_unique<Exchange>();
  Exchange& ex = *exchange_;
  ex.group = group;
  ex.session = session;
  if (!authorization_.empty()) ex.context.AddMetadata("authorization", authorization_);
  ex.pending[kStart] = true;
  ex.stream = stub_->stub->AsyncExchange(&ex.context, &ex.queue, tag(kStart));
  if (!ex.settle(kStart, std::chrono::system_clock::now() + call_timeout_)) ex.context.TryCancel();
  if (!ex.settle(kStart, std::chrono::system_clock::now() + kDrainLimit) || ex.over) {
    ex.over = true;
    throw to_error(ex.finish(std::chrono::system_clock::now() + call_timeout_), target_);
  }
}

void GatewayClient::exchange_read(std::vector<double>& values) {
  Exchange& ex = exchange();
  {
    std::lock_guard lock(active_mutex_);
    if (cancelled_) throw GatewayError(GatewayError::Kind::kUnavailable, "cancelled");
    active_ = &ex.context;
  }
  struct Inactive {
    GatewayClient& client;
    ~Inactive() {
      std::lock_guard lock(client.active_mutex_);
      client.active_ = nullptr;
    }
  } inactive{*this};

  const auto deadline = std::chrono::system_clock::now() + call_timeout_;
  bool in_time = ex.settle(kWrite, deadline);
  if (in_time && !ex.over) {
    ex.request.Clear();
    ex.request.set_group(ex.group);
    ex.request.set_session(ex.session);
    ex.request.set_read(true);
    ex.pending[kWrite] = true;
    ex.stream->Write(ex.request, tag(kWrite));
    ex.pending[kRead] = true;
    ex.stream->Read(&ex.reply, tag(kRead));
    in_time = ex.settle(kRead, deadline);
  }
  if (!in_time) {
    ex.over = true;
    ex.context.TryCancel();
    throw GatewayError(GatewayError::Kind::kUnavailable, "gateway " + target_ + " did not answer in time");
  }
  if (ex.over) {
    const grpc::Status status = ex.finish(std::chrono::system_clock::now() + call_timeout_);
    if (status.ok()) {
      throw GatewayError(GatewayError::Kind::kUnavailable,
                         "gateway " + target_ + " ended the exchange stream");
    }
    throw to_error(status, target_);
  }
  values.assign(ex.reply.values().begin(), ex.reply.values().end());
}

void GatewayClient::exchange_publish(const std::vector<std::uint32_t>& places,
                                     const std::vector<double>& values) {
  Exchange& ex = exchange();
  // The read before it waited for the write before that; a failed one
  // shows at the next read.
  if (!ex.settle(kWrite, std::chrono::system_clock::now() + call_timeout_)) {
    ex.over = true;
    ex.context.TryCancel();
    throw GatewayError(GatewayError::Kind::kUnavailable,
                       "gateway " + target_ + " did not take the changes in time");
  }
  if (ex.over) return;
  ex.request.Clear();
  ex.request.set_group(ex.group);
  ex.request.set_session(ex.session);
  ex.request.mutable_changed_index()->Add(places.begin(), places.end());
  ex.request.mutable_changed_value()->Add(values.begin(), values.end());
  ex.pending[kWrite] = true;
  ex.stream->Write(ex.request, tag(kWrite));
}

void GatewayClient::close_exchange() {
  if (!exchange_) return;
  Exchange& ex = *exchange_;
  const auto deadline = std::chrono::system_clock::now() + call_timeout_;
  if (!ex.over && ex.settle(kWrite, deadline) && !ex.over) {
    ex.pending[kWritesDone] = true;
    ex.stream->WritesDone(tag(kWritesDone));
    ex.settle(kWritesDone, deadline);
  }
  // The gateway ends the stream once it has applied every message.
  const grpc::Status status = ex.finish(deadline);
  drop_exchange();
  // Cancelled: a stopping task interrupted its read; nothing is left to say.
  if (!status.ok() && status.error_code() != grpc::StatusCode::CANCELLED) throw to_error(status, target_);
}

}  // namespace corvex
