#include "ua_client.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "netio/wait.h"

namespace hublet::ua {

namespace {

// More pages than this from one Browse is a server going round in circles.
constexpr int kMaxBrowsePages = 100000;
constexpr auto kCloseTimeout = std::chrono::milliseconds(1000);

// Statuses after which the session (or channel) is gone for good.
bool ends_session(std::uint32_t code) {
  switch (code) {
    case sc::kBadSessionIdInvalid:
    case sc::kBadSessionClosed:
    case sc::kBadSessionNotActivated:
    case sc::kBadSecureChannelIdInvalid:
    case sc::kBadTcpSecureChannelUnknown:
    case sc::kBadSecureChannelClosed:
    case sc::kBadSecureChannelTokenUnknown:
      return true;
    default:
      return false;
  }
}

std::uint32_t millis_until(Deadline deadline) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<std::uint32_t>(ms);
}

// "5 s", "2.5 s", "300 ms".
std::string duration_text(std::chrono::milliseconds d) {
  const auto ms = d.count();
  if (ms < 1000) return std::to_string(ms) + " ms";
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
    text += fraction;
    while (text.back() == '0') text.pop_back();
  }
  return text + " s";
}

ByteString random_nonce() {
  std::random_device device;
  ByteString nonce;
  for (int i = 0; i < 32; ++i) nonce.bytes += static_cast<char>(device() & 0xFF);
  return nonce;
}

}  // namespace

Client::Client(const Logger& log, std::string url, Endpoint endpoint, const Options& options,
               int interrupt_fd)
    : log_(log),
      url_(std::move(url)),
      endpoint_(std::move(endpoint)),
      options_(options),
      interrupt_fd_(interrupt_fd) {}

Client::~Client() {
  if (channel_) channel_->abandon();
}

bool Client::connected() const {
  return channel_ && channel_->is_open() && session_active_;
}

void Client::note_failure(HUBLET_STATUS status, std::chrono::milliseconds waited) {
  if (status == HUBLET_STATUS_TIMEOUT) {
    failure_ = "no answer from " + endpoint_.text() + " within " + duration_text(waited);
  } else if (failure_.empty() && channel_ && status != HUBLET_STATUS_SERVER_REFUSED &&
             status != HUBLET_STATUS_CANCELLED) {
    failure_ = channel_->failure();
  }
}

HUBLET_STATUS Client::invalid_answer(const std::string& what) {
  failure_ = "invalid answer from " + endpoint_.text() + ": " + what;
  HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "%s", failure_.c_str());
  return HUBLET_STATUS_MALFORMED;
}

HUBLET_STATUS Client::connect() {
  const Deadline deadline = Clock::now() + options_.connect_timeout;
  if (channel_) channel_->abandon();
  session_active_ = false;
  failure_.clear();
  // Before resolving the host, which no interrupt can end.
  if (netio::interrupted(interrupt_fd_)) return HUBLET_STATUS_CANCELLED;
  authentication_token_ = NodeId{};  // CreateSession goes without one
  ChannelSettings settings;
  settings.receive_buffer_size = std::max(options_.receive_buffer_size, kMinBufferSize);
  settings.max_message_size = std::max(options_.max_message_size, settings.receive_buffer_size);
  settings.requested_lifetime_ms = static_cast<std::uint32_t>(options_.channel_lifetime.count());
  settings.interrupt_fd = interrupt_fd_;
  channel_ = std::make_unique<SecureChannel>(log_, settings);
  HUBLET_STATUS status = channel_->open(endpoint_, url_, deadline);
  if (status == HUBLET_STATUS_GOOD) status = create_session(deadline);
  if (status == HUBLET_STATUS_CANCELLED) {
    channel_->abandon();
    return status;
  }
  if (status != HUBLET_STATUS_GOOD) {
    note_failure(status, options_.connect_timeout);
    channel_->abandon();
    // Said once per outage; a poller retrying every second would repeat it.
    if (failure_.empty()) {
      HUBLET_LOG(log_, outage_reported_ ? HUBLET_LOG_LEVEL_DEBUG : HUBLET_LOG_LEVEL_WARN,
                 "cannot connect to %s (%s)", url_.c_str(), status_name(status));
    } else {
      HUBLET_LOG(log_, outage_reported_ ? HUBLET_LOG_LEVEL_DEBUG : HUBLET_LOG_LEVEL_WARN, "%s",
                 failure_.c_str());
    }
    outage_reported_ = true;
    return status;
  }
  if (outage_reported_) HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "connected to %s again", url_.c_str());
  outage_reported_ = false;
  HUBLET_LOG(log_, HUBLET_LOG_LEVEL_INFO, "connected to %s", url_.c_str());
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS Client::create_session(Deadline deadline) {
  CreateSessionRequest create;
  create.client_description.application_uri = "urn:varnok:hublet";
  create.client_description.product_uri = "urn:varnok:hublet";
  create.client_description.application_name.text = "hublet";
  create.client_description.application_type = ApplicationType::kClient;
  create.endpoint_url = url_;
  create.session_name = "hublet-" + std::to_string(::getpid());
  create.client_nonce = random_nonce();
  create.requested_session_timeout = static_cast<double>(options_.session_timeout.count());
  create.max_response_message_size = options_.max_message_size;
  CreateSessionResponse created;
  HUBLET_STATUS status = exchange(create, created, "CreateSession", deadline);
  if (status != HUBLET_STATUS_GOOD) return status;
  authentication_token_ = created.authentication_token;

  // The anonymous policy id the server announced, preferring endpoints
  // without security; then the usual names.
  std::vector<std::string> policies;
  for (int pass = 0; pass < 2; ++pass) {
    for (const EndpointDescription& e : created.server_endpoints) {
      const bool none = e.security_policy_uri == kSecurityPolicyNone;
      if (none != (pass == 0)) continue;
      for (const UserTokenPolicy& p : e.user_identity_tokens) {
        if (p.token_type == UserTokenType::kAnonymous && !p.policy_id.empty() &&
            std::find(policies.begin(), policies.end(), p.policy_id) == policies.end()) {
          policies.push_back(p.policy_id);
        }
      }
    }
  }
  for (const char* fallback : {"anonymous", "0"}) {
    if (std::find(policies.begin(), policies.end(), fallback) == policies.end()) policies.push_back(fallback);
  }

  for (const std::string& policy : policies) {
    ActivateSessionRequest activate;
    activate.user_identity_token.type_id = NodeId::numeric_id(0, id::kAnonymousIdentityTokenBinary);
    activate.user_identity_token.encoding = ExtensionObject::Encoding::kBinary;
    const Bytes token = encode_to_bytes(AnonymousIdentityToken{policy});
    activate.user_identity_token.body.assign(token.begin(), token.end());
    ActivateSessionResponse activated;
    status = exchange(activate, activated, "ActivateSession", deadline);
    if (status == HUBLET_STATUS_GOOD) {
      session_active_ = true;
      return status;
    }
    // Only a refused identity token is worth another policy id.
    if (status != HUBLET_STATUS_SERVER_REFUSED || !channel_->is_open()) return status;
  }
  return status;
}

template <typename Request>
HUBLET_STATUS Client::send_request(Request& request, Deadline deadline) {
  request.header.authentication_token = authentication_token_;
  request.header.timestamp = now_utc();
  request.header.request_handle = ++request_handle_;
  request.header.timeout_hint = millis_until(deadline);
  Writer w(std::move(request_bytes_));
  encode_message(w, request);
  request_bytes_ = std::move(w.bytes());
  release_if_large(reply_bytes_);  // the reply before is done with
  const HUBLET_STATUS status = channel_->call(request_bytes_, reply_bytes_, deadline);
  release_if_large(request_bytes_);
  if (status == HUBLET_STATUS_SERVER_REFUSED) refusal_ = channel_->refusal();
  return status;
}

template <typename Reply>
HUBLET_STATUS Client::take_reply(Reply& reply, const char* name) {
  Response response;
  const HUBLET_STATUS decoded = decode_response(reply_bytes_, response);
  if (decoded != HUBLET_STATUS_GOOD) return undecodable(decoded, name);
  if (auto* typed = std::get_if<Reply>(&response); typed && !typed->header.service_result.is_bad()) {
    reply = std::move(*typed);
    return HUBLET_STATUS_GOOD;
  }
  if (!std::holds_alternative<Reply>(response) && !std::holds_alternative<ServiceFault>(response))
    return invalid_answer(std::string("another message than the ") + name + " response");
  return refused(response_header(response).service_result.code, name);
}

template <typename Request, typename Reply>
HUBLET_STATUS Client::exchange(Request& request, Reply& reply, const char* name, Deadline deadline) {
  const HUBLET_STATUS status = send_request(request, deadline);
  return status == HUBLET_STATUS_GOOD ? take_reply(reply, name) : status;
}

HUBLET_STATUS Client::refused(std::uint32_t code, const char* name) {
  HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server refused %s: %s", name, status_text(code).c_str());
  refusal_ = code;
  if (ends_session(code)) {
    session_active_ = false;
    channel_->abandon();
  }
  return HUBLET_STATUS_SERVER_REFUSED;
}

// The channel stays open: the next response may well decode.
HUBLET_STATUS Client::undecodable(HUBLET_STATUS status, const char* name) {
  failure_ = "invalid answer from " + endpoint_.text() + ": a response that cannot be decoded (" +
             status_name(status) + ")";
  HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "cannot decode the %s response from %s (%s)", name, url_.c_str(),
             status_name(status));
  return status;
}

template <typename Attempt>
HUBLET_STATUS Client::retrying(const char* name, Attempt&& attempt) {
  for (int attempt_number = 0;; ++attempt_number) {
    bool fresh = false;
    if (!connected()) {
      const HUBLET_STATUS status = connect();
      if (status != HUBLET_STATUS_GOOD) return status;
      fresh = true;
    }
    failure_.clear();
    const HUBLET_STATUS status = attempt(Clock::now() + options_.request_timeout);
    // A connection that died while idle (server restarted) is worth one
    // more try over a new one; a new one that fails is not, nor an
    // interrupted one.
    if (status == HUBLET_STATUS_GOOD || status == HUBLET_STATUS_CANCELLED || connected() || fresh ||
        attempt_number > 0) {
      if (status != HUBLET_STATUS_GOOD) note_failure(status, options_.request_timeout);
      return status;
    }
    HUBLET_LOG(log_, HUBLET_LOG_LEVEL_INFO, "%s: connection to %s lost, reconnecting", name, url_.c_str());
  }
}

template <typename Request, typename Reply>
HUBLET_STATUS Client::service(Request& request, Reply& reply, const char* name) {
  return retrying(name, [&](Deadline deadline) { return exchange(request, reply, name, deadline); });
}

std::uint32_t Client::refusal() const {
  // A connect that failed on the channel leaves the code with that channel.
  if (refusal_ == 0 && channel_) return channel_->refusal();
  return refusal_;
}

void Client::disconnect() {
  if (!channel_) return;
  const Deadline deadline =
      Clock::now() + std::min<std::chrono::milliseconds>(options_.request_timeout, kCloseTimeout);
  if (connected()) {
    CloseSessionRequest request;
    CloseSessionResponse reply;
    exchange(request, reply, "CloseSession", deadline);
  }
  session_active_ = false;
  channel_->close(deadline);
  channel_.reset();
}

void Client::release_continuation_point(const ByteString& point) {
  if (!connected()) return;
  BrowseNextRequest request;
  request.release_continuation_points = true;
  request.continuation_points.push_back(point);
  BrowseNextResponse reply;
  exchange(request, reply, "BrowseNext", Clock::now() + options_.request_timeout);
}

HUBLET_STATUS Client::browse(const NodeId& node, std::uint32_t max_refs,
                             std::vector<ReferenceDescription>& out) {
  out.clear();
  refusal_ = 0;
  failure_.clear();
  BrowseRequest request;
  request.requested_max_references_per_node = max_refs;
  BrowseDescription& what = request.nodes_to_browse.emplace_back();
  what.node_id = node;
  what.browse_direction = BrowseDirection::kForward;
  what.reference_type_id = NodeId::numeric_id(0, id::kHierarchicalReferences);
  what.include_subtypes = true;
  what.node_class_mask = 0;
  what.result_mask = kBrowseResultAll;
  BrowseResponse reply;
  HUBLET_STATUS status = service(request, reply, "Browse");
  if (status != HUBLET_STATUS_GOOD) return status;

  std::vector<ReferenceDescription> found;
  std::vector<BrowseResult>* results = &reply.results;
  BrowseNextResponse next_reply;
  for (int page = 0;; ++page) {
    if (results->size() != 1)
      return invalid_answer("Browse: " + std::to_string(results->size()) + " results for one node");
    BrowseResult& result = results->front();
    if (result.status_code.is_bad()) {
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "server refused to browse %s: %s", to_string(node).c_str(),
                 status_text(result.status_code.code).c_str());
      refusal_ = result.status_code.code;
      return HUBLET_STATUS_SERVER_REFUSED;
    }
    std::move(result.references.begin(), result.references.end(), std::back_inserter(found));
    if (result.continuation_point.bytes.empty()) break;
    if (page + 1 >= kMaxBrowsePages) {
      HUBLET_LOG(log_, HUBLET_LOG_LEVEL_WARN, "Browse of %s: more than %d pages, giving up",
                 to_string(node).c_str(), kMaxBrowsePages);
      release_continuation_point(result.continuation_point);
      return HUBLET_STATUS_TOO_LARGE;
    }
    BrowseNextRequest next;
    next.continuation_points.push_back(std::move(result.continuation_point));
    status = service(next, next_reply, "BrowseNext");
    if (status != HUBLET_STATUS_GOOD) {
      release_continuation_point(next.continuation_points.front());
      return status;
    }
    results = &next_reply.results;
  }
  out = std::move(found);
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS Client::read(const std::vector<ReadValueId>& items, std::vector<DataValue>& out) {
  out.clear();
  std::vector<DataValue> values(items.size());
  const HUBLET_STATUS status = read(plan_read(items, options_.max_nodes_per_read),
                                    [&values](std::size_t i, const DataValue& value) { values[i] = value; });
  if (status == HUBLET_STATUS_GOOD) out = std::move(values);
  return status;
}

HUBLET_STATUS Client::read(const ReadPlan& plan, const ReadResultSink& each) {
  refusal_ = 0;
  failure_.clear();
  for (const ReadPlan::Request& part : plan.requests) {
    const HUBLET_STATUS status =
        retrying("Read", [&](Deadline deadline) { return read_part(part, each, deadline); });
    if (status != HUBLET_STATUS_GOOD) return status;
  }
  return HUBLET_STATUS_GOOD;
}

// The results are decoded as they are read, straight to `each`: a poll of a
// large group builds no list of values in between.
HUBLET_STATUS Client::read_part(const ReadPlan::Request& part, const ReadResultSink& each,
                                Deadline deadline) {
  PlannedReadRequest request;
  request.max_age = 0;
  request.timestamps_to_return = TimestampsToReturn::kNeither;
  request.nodes_to_read.bytes = part.nodes_to_read;
  const HUBLET_STATUS sent = send_request(request, deadline);
  if (sent != HUBLET_STATUS_GOOD) return sent;
  std::uint32_t id = 0;
  if (!message_id(reply_bytes_, id) || id != ReadResponse::kBinaryId) {
    ReadResponse unexpected;  // a fault, or nonsense
    return take_reply(unexpected, "Read");
  }
  ResponseHeader header;
  std::size_t results = 0;
  const HUBLET_STATUS decoded =
      decode_read_response(reply_bytes_, header, results, [&](std::size_t i, const DataValue& value) {
        if (i < part.count) each(part.first + i, value);
      });
  if (decoded != HUBLET_STATUS_GOOD) return undecodable(decoded, "Read");
  if (header.service_result.is_bad()) return refused(header.service_result.code, "Read");
  if (results != part.count) {
    return invalid_answer("Read: " + std::to_string(results) + " results for " + std::to_string(part.count) +
                          " nodes");
  }
  return HUBLET_STATUS_GOOD;
}

HUBLET_STATUS Client::write(const std::vector<WriteValue>& items, std::vector<StatusCode>& out) {
  out.clear();
  refusal_ = 0;
  failure_.clear();
  std::vector<StatusCode> results;
  const std::size_t batch = std::max<std::size_t>(1, options_.max_nodes_per_read);
  for (std::size_t from = 0; from < items.size(); from += batch) {
    WriteRequest request;
    const auto first = items.begin() + static_cast<std::ptrdiff_t>(from);
    request.nodes_to_write.assign(first,
                                  first + static_cast<std::ptrdiff_t>(std::min(batch, items.size() - from)));
    WriteResponse reply;
    const HUBLET_STATUS status = service(request, reply, "Write");
    if (status != HUBLET_STATUS_GOOD) return status;
    if (reply.results.size() != request.nodes_to_write.size()) {
      return invalid_answer("Write: " + std::to_string(reply.results.size()) + " results for " +
                            std::to_string(request.nodes_to_write.size()) + " nodes");
    }
    results.insert(results.end(), reply.results.begin(), reply.results.end());
  }
  out = std::move(results);
  return HUBLET_STATUS_GOOD;
}

}  // namespace hublet::ua
