#pragma once

// What the gateway client's two source files share.

#include <grpcpp/grpcpp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "gateway.grpc.pb.h"
#include "gateway_client.h"

namespace corvex {

namespace pb = varnok::gateway::v1;

struct GatewayClient::Stub {
  std::unique_ptr<pb::Gateway::Stub> stub;
};

// The gRPC status of a failed call as the error the task acts on.
GatewayError to_error(const grpc::Status& status, const std::string& target);

}  // namespace corvex
