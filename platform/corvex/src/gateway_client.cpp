#include "gateway_client.h"

#include <grpcpp/grpcpp.h>

#include <limits>

#include "gateway.grpc.pb.h"
#include "gateway_parts.h"
#include "gateway_stream.h"
#include "gateway_token.h"

namespace corvex {

GatewayError to_error(const grpc::Status& status, const std::string& target) {
  using Kind = GatewayError::Kind;
  const std::string text = status.error_message();
  switch (status.error_code()) {
    case grpc::StatusCode::ALREADY_EXISTS:
      return GatewayError(Kind::kRefused, text);
    case grpc::StatusCode::NOT_FOUND:
      return GatewayError(Kind::kSessionLost, text);
    case grpc::StatusCode::INVALID_ARGUMENT:
    case grpc::StatusCode::FAILED_PRECONDITION:
      return GatewayError(Kind::kInvalid, text);
    // Retrying with the same token would be refused the same way.
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED:
      return GatewayError(Kind::kInvalid, "gateway " + target + " refused the call: " + text);
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return GatewayError(Kind::kUnavailable, "gateway " + target + " did not answer in time");
    default:
      return GatewayError(Kind::kUnavailable, "gateway " + target + " unreachable: " + text);
  }
}

GatewayClient::GatewayClient(const std::string& host, int port, std::chrono::milliseconds call_timeout)
    : target_((host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host) + ":" +
              std::to_string(port)),
      call_timeout_(call_timeout),
      stub_(std::make_unique<Stub>()) {
  if (const auto token = gateway_token_from_environment()) authorization_ = "Bearer " + *token;
  grpc::ChannelArguments args;
  // Find a restarted gateway within about a second, not after gRPC's
  // default backoff of up to two minutes.
  args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 200);
  args.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, 200);
  args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 1000);
  channel_ = grpc::CreateCustomChannel(target_, grpc::InsecureChannelCredentials(), args);
  stub_->stub = pb::Gateway::NewStub(channel_);
}

template <typename Call>
void GatewayClient::call(Call&& invoke, bool cancellable) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + call_timeout_);
  if (!authorization_.empty()) context.AddMetadata("authorization", authorization_);
  {
    std::lock_guard lock(active_mutex_);
    if (cancellable && cancelled_) throw GatewayError(GatewayError::Kind::kUnavailable, "cancelled");
    active_ = &context;
  }
  const grpc::Status status = invoke(context);
  {
    std::lock_guard lock(active_mutex_);
    active_ = nullptr;
  }
  if (!status.ok()) throw to_error(status, target_);
}

GatewayClient::~GatewayClient() {
  drop_exchange();
}

// cancel() reaches an Exchange read through active_ as well.
void GatewayClient::cancel() {
  std::lock_guard lock(active_mutex_);
  cancelled_ = true;
  if (active_ != nullptr) active_->TryCancel();
}

std::string GatewayClient::register_group(const std::string& group, const std::vector<TagValue>& tags,
                                          std::chrono::milliseconds lease, const std::string& client,
                                          const TagInfoList& info, bool resume) {
  pb::RegisterRequest request;
  request.set_group(group);
  request.set_resume(resume);
  request.set_lease_ms(static_cast<std::uint32_t>(lease.count()));
  request.set_client(client);
  for (const auto& tag : tags) {
    auto* item = request.add_tags();
    item->set_name(tag.name);
    item->set_value(tag.value);
  }
  for (const auto& [name, about] : info) {
    auto* item = request.add_info();
    item->set_name(name);
    item->set_description(about.description);
    item->set_unit(about.unit);
    if (about.low || about.high) {
      constexpr double kOpen = std::numeric_limits<double>::infinity();
      item->mutable_range()->set_low(about.low.value_or(-kOpen));
      item->mutable_range()->set_high(about.high.value_or(kOpen));
    }
  }
  pb::RegisterReply reply;
  call([&](grpc::ClientContext& context) { return stub_->stub->Register(&context, request, &reply); });
  return reply.session();
}

std::vector<TagValue> GatewayClient::read(const std::string& group, const std::string& session) {
  pb::ReadRequest request;
  request.set_group(group);
  request.set_session(session);
  pb::ReadReply reply;
  call([&](grpc::ClientContext& context) { return stub_->stub->Read(&context, request, &reply); });
  std::vector<TagValue> out;
  out.reserve(static_cast<std::size_t>(reply.tags_size()));
  for (const auto& tag : reply.tags()) out.push_back({tag.name(), tag.value()});
  return out;
}

void GatewayClient::publish(const std::string& group, const std::string& session,
                            const std::vector<TagValue>& tags) {
  pb::PublishRequest request;
  request.set_group(group);
  request.set_session(session);
  for (const auto& tag : tags) {
    auto* item = request.add_tags();
    item->set_name(tag.name);
    item->set_value(tag.value);
  }
  pb::PublishReply reply;
  call([&](grpc::ClientContext& context) { return stub_->stub->Publish(&context, request, &reply); });
}

void GatewayClient::release(const std::string& group, const std::string& session) {
  pb::ReleaseRequest request;
  request.set_group(group);
  request.set_session(session);
  pb::ReleaseReply reply;
  call([&](grpc::ClientContext& context) { return stub_->stub->Release(&context, request, &reply); }, false);
}

}  // namespace corvex
