#pragma once

// The state of one Exchange stream: its completion queue, the operations
// under way, and the waits on them.

#include <array>
#include <chrono>

#include "gateway_parts.h"

namespace corvex {

namespace stream_ops {

enum Op : std::size_t { kStart, kWrite, kRead, kWritesDone, kFinish, kOps };

inline void* tag(Op op) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(op) + 1);
}

inline Op op_of(void* tag) {
  return static_cast<Op>(reinterpret_cast<std::uintptr_t>(tag) - 1);
}

// Enough for a cancelled stream's operations to come back.
constexpr auto kDrainLimit = std::chrono::seconds(5);

}  // namespace stream_ops

struct GatewayClient::Exchange {
  std::string group;
  std::string session;
  grpc::ClientContext context;
  grpc::CompletionQueue queue;
  std::unique_ptr<grpc::ClientAsyncReaderWriter<pb::ExchangeRequest, pb::ExchangeReply>> stream;
  pb::ExchangeRequest request;  // alive until its write completes
  pb::ExchangeReply reply;
  grpc::Status status;
  std::array<bool, stream_ops::kOps> pending{};
  bool finish_asked = false;
  bool over = false;  // an operation failed: only Finish tells why

  // Handles completions until `op` has none pending. False on time-out.
  // An operation that failed marks the stream over; the caller asks why.
  bool settle(stream_ops::Op op, std::chrono::system_clock::time_point deadline) {
    while (pending[op]) {
      void* got = nullptr;
      bool ok = false;
      if (queue.AsyncNext(&got, &ok, deadline) != grpc::CompletionQueue::GOT_EVENT) return false;
      pending[stream_ops::op_of(got)] = false;
      if (!ok && stream_ops::op_of(got) != stream_ops::kFinish) over = true;
    }
    return true;
  }

  bool any_pending() const {
    for (bool p : pending)
      if (p) return true;
    return false;
  }

  // The stream's final status (asking for it once).
  grpc::Status finish(std::chrono::system_clock::time_point deadline) {
    if (!finish_asked) {
      finish_asked = true;
      pending[stream_ops::kFinish] = true;
      stream->Finish(&status, stream_ops::tag(stream_ops::kFinish));
    }
    if (!settle(stream_ops::kFinish, deadline)) {
      context.TryCancel();
      if (!settle(stream_ops::kFinish, std::chrono::system_clock::now() + stream_ops::kDrainLimit)) {
        return grpc::Status(grpc::StatusCode::DEADLINE_EXCEEDED, "no status");
      }
    }
    return status;
  }

  // Ends the call and empties the queue, so that both can be destroyed.
  // False if the library did not give the operations back in time.
  bool shut() noexcept {
    context.TryCancel();
    const auto limit = std::chrono::system_clock::now() + stream_ops::kDrainLimit;
    for (stream_ops::Op op :
         {stream_ops::kStart, stream_ops::kWrite, stream_ops::kRead, stream_ops::kWritesDone})
      if (!settle(op, limit)) return false;
    if (stream && !finish_asked) {
      finish_asked = true;
      pending[stream_ops::kFinish] = true;
      stream->Finish(&status, stream_ops::tag(stream_ops::kFinish));
    }
    if (!settle(stream_ops::kFinish, limit)) return false;
    queue.Shutdown();
    void* got = nullptr;
    bool ok = false;
    while (queue.Next(&got, &ok)) {
    }
    return true;
  }
};

}  // namespace corvex
