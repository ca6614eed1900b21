#pragma once

// The service messages hublet sends and receives, with their binary
// encoding ids. A message on the wire is the encoding id (a NodeId) followed
// by the structure's fields.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "ua_binary.h"
#include "ua_types.h"

namespace hublet::ua {

enum class MessageSecurityMode : std::int32_t { kInvalid = 0, kNone = 1, kSign = 2, kSignAndEncrypt = 3 };
enum class SecurityTokenRequestType : std::int32_t { kIssue = 0, kRenew = 1 };
enum class ApplicationType : std::int32_t {
  kServer = 0,
  kClient = 1,
  kClientAndServer = 2,
  kDiscoveryServer = 3
};
enum class UserTokenType : std::int32_t { kAnonymous = 0, kUserName = 1, kCertificate = 2, kIssuedToken = 3 };
enum class BrowseDirection : std::int32_t { kForward = 0, kInverse = 1, kBoth = 2 };
enum class TimestampsToReturn : std::int32_t { kSource = 0, kServer = 1, kBoth = 2, kNeither = 3 };
enum class NodeClass : std::int32_t {
  kNone = 0,
  kObject = 1,
  kVariable = 2,
  kMethod = 4,
  kObjectType = 8,
  kVariableType = 16,
  kReferenceType = 32,
  kDataType = 64,
  kView = 128,
};

inline constexpr const char* kSecurityPolicyNone = "http://opcfoundation.org/UA/SecurityPolicy#None";

struct RequestHeader {
  NodeId authentication_token;
  DateTime timestamp;
  std::uint32_t request_handle = 0;
  std::uint32_t return_diagnostics = 0;
  std::string audit_entry_id;
  std::uint32_t timeout_hint = 0;
  ExtensionObject additional_header;
  HUBLET_FIELDS(authentication_token, timestamp, request_handle, return_diagnostics, audit_entry_id,
                timeout_hint, additional_header)
};

struct ResponseHeader {
  DateTime timestamp;
  std::uint32_t request_handle = 0;
  StatusCode service_result;
  DiagnosticInfo service_diagnostics;
  std::vector<std::string> string_table;
  ExtensionObject additional_header;
  HUBLET_FIELDS(timestamp, request_handle, service_result, service_diagnostics, string_table,
                additional_header)
};

// --- secure channel -------------------------------------------------------

struct ChannelSecurityToken {
  std::uint32_t channel_id = 0;
  std::uint32_t token_id = 0;
  DateTime created_at;
  std::uint32_t revised_lifetime = 0;  // ms
  HUBLET_FIELDS(channel_id, token_id, created_at, revised_lifetime)
};

struct OpenSecureChannelRequest {
  static constexpr std::uint32_t kBinaryId = 446;
  RequestHeader header;
  std::uint32_t client_protocol_version = 0;
  SecurityTokenRequestType request_type = SecurityTokenRequestType::kIssue;
  MessageSecurityMode security_mode = MessageSecurityMode::kNone;
  ByteString client_nonce;
  std::uint32_t requested_lifetime = 0;
  HUBLET_FIELDS(header, client_protocol_version, request_type, security_mode, client_nonce,
                requested_lifetime)
};

struct OpenSecureChannelResponse {
  static constexpr std::uint32_t kBinaryId = 449;
  ResponseHeader header;
  std::uint32_t server_protocol_version = 0;
  ChannelSecurityToken security_token;
  ByteString server_nonce;
  HUBLET_FIELDS(header, server_protocol_version, security_token, server_nonce)
};

struct CloseSecureChannelRequest {
  static constexpr std::uint32_t kBinaryId = 452;
  RequestHeader header;
  HUBLET_FIELDS(header)
};

struct ServiceFault {
  static constexpr std::uint32_t kBinaryId = 397;
  ResponseHeader header;
  HUBLET_FIELDS(header)
};

// --- session --------------------------------------------------------------

struct ApplicationDescription {
  std::string application_uri;
  std::string product_uri;
  LocalizedText application_name;
  ApplicationType application_type = ApplicationType::kClient;
  std::string gateway_server_uri;
  std::string discovery_profile_uri;
  std::vector<std::string> discovery_urls;
  HUBLET_FIELDS(application_uri, product_uri, application_name, application_type, gateway_server_uri,
                discovery_profile_uri, discovery_urls)
};

struct UserTokenPolicy {
  std::string policy_id;
  UserTokenType token_type = UserTokenType::kAnonymous;
  std::string issued_token_type;
  std::string issuer_endpoint_url;
  std::string security_policy_uri;
  HUBLET_FIELDS(policy_id, token_type, issued_token_type, issuer_endpoint_url, security_policy_uri)
};

struct EndpointDescription {
  std::string endpoint_url;
  ApplicationDescription server;
  ByteString server_certificate;
  MessageSecurityMode security_mode = MessageSecurityMode::kInvalid;
  std::string security_policy_uri;
  std::vector<UserTokenPolicy> user_identity_tokens;
  std::string transport_profile_uri;
  std::uint8_t security_level = 0;
  HUBLET_FIELDS(endpoint_url, server, server_certificate, security_mode, security_policy_uri,
                user_identity_tokens, transport_profile_uri, security_level)
};

struct SignedSoftwareCertificate {
  ByteString certificate_data;
  ByteString signature;
  HUBLET_FIELDS(certificate_data, signature)
};

struct SignatureData {
  std::string algorithm;
  ByteString signature;
  HUBLET_FIELDS(algorithm, signature)
};

struct CreateSessionRequest {
  static constexpr std::uint32_t kBinaryId = 461;
  RequestHeader header;
  ApplicationDescription client_description;
  std::string server_uri;
  std::string endpoint_url;
  std::string session_name;
  ByteString client_nonce;
  ByteString client_certificate;
  double requested_session_timeout = 0;
  std::uint32_t max_response_message_size = 0;
  HUBLET_FIELDS(header, client_description, server_uri, endpoint_url, session_name, client_nonce,
                client_certificate, requested_session_timeout, max_response_message_size)
};

struct CreateSessionResponse {
  static constexpr std::uint32_t kBinaryId = 464;
  ResponseHeader header;
  NodeId session_id;
  NodeId authentication_token;
  double revised_session_timeout = 0;
  ByteString server_nonce;
  ByteString server_certificate;
  std::vector<EndpointDescription> server_endpoints;
  std::vector<SignedSoftwareCertificate> server_software_certificates;
  SignatureData server_signature;
  std::uint32_t max_request_message_size = 0;
  HUBLET_FIELDS(header, session_id, authentication_token, revised_session_timeout, server_nonce,
                server_certificate, server_endpoints, server_software_certificates, server_signature,
                max_request_message_size)
};

struct AnonymousIdentityToken {
  std::string policy_id;
  HUBLET_FIELDS(policy_id)
};

struct ActivateSessionRequest {
  static constexpr std::uint32_t kBinaryId = 467;
  RequestHeader header;
  SignatureData client_signature;
  std::vector<SignedSoftwareCertificate> client_software_certificates;
  std::vector<std::string> locale_ids;
  ExtensionObject user_identity_token;
  SignatureData user_token_signature;
  HUBLET_FIELDS(header, client_signature, client_software_certificates, locale_ids, user_identity_token,
                user_token_signature)
};

struct ActivateSessionResponse {
  static constexpr std::uint32_t kBinaryId = 470;
  ResponseHeader header;
  ByteString server_nonce;
  std::vector<StatusCode> results;
  std::vector<DiagnosticInfo> diagnostic_infos;
  HUBLET_FIELDS(header, server_nonce, results, diagnostic_infos)
};

struct CloseSessionRequest {
  static constexpr std::uint32_t kBinaryId = 473;
  RequestHeader header;
  bool delete_subscriptions = true;
  HUBLET_FIELDS(header, delete_subscriptions)
};

struct CloseSessionResponse {
  static constexpr std::uint32_t kBinaryId = 476;
  ResponseHeader header;
  HUBLET_FIELDS(header)
};

// --- browse ---------------------------------------------------------------

struct ViewDescription {
  NodeId view_id;
  DateTime timestamp;
  std::uint32_t view_version = 0;
  HUBLET_FIELDS(view_id, timestamp, view_version)
};

// Result mask bits.
inline constexpr std::uint32_t kBrowseResultAll = 0x3F;

struct BrowseDescription {
  NodeId node_id;
  BrowseDirection browse_direction = BrowseDirection::kForward;
  NodeId reference_type_id;
  bool include_subtypes = true;
  std::uint32_t node_class_mask = 0;  // all
  std::uint32_t result_mask = kBrowseResultAll;
  HUBLET_FIELDS(node_id, browse_direction, reference_type_id, include_subtypes, node_class_mask, result_mask)
};

struct ReferenceDescription {
  NodeId reference_type_id;
  bool is_forward = true;
  ExpandedNodeId node_id;
  QualifiedName browse_name;
  LocalizedText display_name;
  NodeClass node_class = NodeClass::kNone;
  ExpandedNodeId type_definition;
  HUBLET_FIELDS(reference_type_id, is_forward, node_id, browse_name, display_name, node_class,
                type_definition)
};

struct BrowseResult {
  StatusCode status_code;
  ByteString continuation_point;
  std::vector<ReferenceDescription> references;
  HUBLET_FIELDS(status_code, continuation_point, references)
};

struct BrowseRequest {
  static constexpr std::uint32_t kBinaryId = 527;
  RequestHeader header;
  ViewDescription view;
  std::uint32_t requested_max_references_per_node = 0;
  std::vector<BrowseDescription> nodes_to_browse;
  HUBLET_FIELDS(header, view, requested_max_references_per_node, nodes_to_browse)
};

struct BrowseResponse {
  static constexpr std::uint32_t kBinaryId = 530;
  ResponseHeader header;
  std::vector<BrowseResult> results;
  std::vector<DiagnosticInfo> diagnostic_infos;
  HUBLET_FIELDS(header, results, diagnostic_infos)
};

struct BrowseNextRequest {
  static constexpr std::uint32_t kBinaryId = 533;
  RequestHeader header;
  bool release_continuation_points = false;
  std::vector<ByteString> continuation_points;
  HUBLET_FIELDS(header, release_continuation_points, continuation_points)
};

struct BrowseNextResponse {
  static constexpr std::uint32_t kBinaryId = 536;
  ResponseHeader header;
  std::vector<BrowseResult> results;
  std::vector<DiagnosticInfo> diagnostic_infos;
  HUBLET_FIELDS(header, results, diagnostic_infos)
};

// --- attributes -----------------------------------------------------------

struct ReadValueId {
  NodeId node_id;
  std::uint32_t attribute_id = attr::kValue;
  std::string index_range;
  QualifiedName data_encoding;
  HUBLET_FIELDS(node_id, attribute_id, index_range, data_encoding)
};

struct ReadRequest {
  static constexpr std::uint32_t kBinaryId = 631;
  RequestHeader header;
  double max_age = 0;
  TimestampsToReturn timestamps_to_return = TimestampsToReturn::kNeither;
  std::vector<ReadValueId> nodes_to_read;
  HUBLET_FIELDS(header, max_age, timestamps_to_return, nodes_to_read)
};

struct ReadResponse {
  static constexpr std::uint32_t kBinaryId = 634;
  ResponseHeader header;
  std::vector<DataValue> results;
  std::vector<DiagnosticInfo> diagnostic_infos;
  HUBLET_FIELDS(header, results, diagnostic_infos)
};

// --- reads encoded once ----------------------------------------------------

// A Read of a fixed list of items, encoded once and sent as often as the
// list is read: the nodes_to_read of each request (at most `batch` items
// each), as their bytes on the wire.
struct ReadPlan {
  struct Request {
    std::size_t first = 0;  // position of the request's first item in the list
    std::size_t count = 0;
    Bytes nodes_to_read;  // length prefix and items
  };
  std::vector<Request> requests;
};

// Splits `items` into requests of at most `batch` (at least 1) items.
ReadPlan plan_read(std::span<const ReadValueId> items, std::size_t batch);

// Bytes encoded beforehand, written as they are.
struct Preencoded {
  std::span<const std::uint8_t> bytes;
};
inline void encode(Writer& w, const Preencoded& v) {
  w.raw(v.bytes.data(), v.bytes.size());
}

// A ReadRequest whose nodes_to_read come from a ReadPlan; the same bytes on
// the wire as the ReadRequest of those items.
struct PlannedReadRequest {
  static constexpr std::uint32_t kBinaryId = ReadRequest::kBinaryId;
  RequestHeader header;
  double max_age = 0;
  TimestampsToReturn timestamps_to_return = TimestampsToReturn::kNeither;
  Preencoded nodes_to_read;
  HUBLET_FIELDS(header, max_age, timestamps_to_return, nodes_to_read)
};

struct WriteValue {
  NodeId node_id;
  std::uint32_t attribute_id = attr::kValue;
  std::string index_range;
  DataValue value;
  HUBLET_FIELDS(node_id, attribute_id, index_range, value)
};

struct WriteRequest {
  static constexpr std::uint32_t kBinaryId = 673;
  RequestHeader header;
  std::vector<WriteValue> nodes_to_write;
  HUBLET_FIELDS(header, nodes_to_write)
};

struct WriteResponse {
  static constexpr std::uint32_t kBinaryId = 676;
  ResponseHeader header;
  std::vector<StatusCode> results;
  std::vector<DiagnosticInfo> diagnostic_infos;
  HUBLET_FIELDS(header, results, diagnostic_infos)
};

// --- whole messages -------------------------------------------------------

// Every response hublet understands; monostate when nothing was decoded.
using Response = std::variant<std::monostate, ServiceFault, OpenSecureChannelResponse, CreateSessionResponse,
                              ActivateSessionResponse, CloseSessionResponse, BrowseResponse,
                              BrowseNextResponse, ReadResponse, WriteResponse>;

const ResponseHeader& response_header(const Response& response);

// Encoding id then fields.
template <typename Message>
void encode_message(Writer& w, const Message& message) {
  encode(w, NodeId::numeric_id(0, Message::kBinaryId));
  encode(w, message);
}

template <typename Message>
Bytes encode_message(const Message& message) {
  Writer w;
  encode_message(w, message);
  return std::move(w.bytes());
}

// Decodes one complete message body. An unknown encoding id or bytes left
// over are MALFORMED, a body that ends early BUFFER_TOO_SMALL; on failure
// `out` is left empty (monostate).
HUBLET_STATUS decode_response(std::span<const std::uint8_t> body, Response& out);
Bytes encode_response(const Response& response);

// The encoding id a message body starts with: a numeric id of namespace 0,
// else false.
bool message_id(std::span<const std::uint8_t> body, std::uint32_t& id);

// Takes each result of a ReadResponse as it is decoded: its position and
// the value, in storage reused from one result to the next.
using ReadResultSink = std::function<void(std::size_t, const DataValue&)>;

// Decodes a ReadResponse body without building its list of results: the
// header into `header`, each result through `each`, their number into
// `results`. Accepts and refuses what decode_response does for a
// ReadResponse, with the same status; after a failure, the results already
// given to `each` are to be dropped.
HUBLET_STATUS decode_read_response(std::span<const std::uint8_t> body, ResponseHeader& header,
                                   std::size_t& results, const ReadResultSink& each);

}  // namespace hublet::ua
