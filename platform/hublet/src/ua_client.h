#pragma once

// A session on one endpoint and the services hublet uses. Connects on
// demand: a call finds the connection gone (or never made) and establishes
// a new channel and session first; a call that finds an old connection dead
// is repeated once over a new one. Not thread-safe: the owner serialises
// calls.

#include <memory>
#include <string>
#include <vector>

#include "hublet/hublet.h"
#include "log.h"
#include "ua_securechannel.h"

namespace hublet::ua {

class Client {
 public:
  // `interrupt_fd`: a netio::Interrupt whose setting ends every wait of this
  // client with CANCELLED, at once and for good; -1: none.
  Client(const Logger& log, std::string url, Endpoint endpoint, const Options& options,
         int interrupt_fd = -1);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Channel and session, within the connect time-out.
  HUBLET_STATUS connect();
  bool connected() const;
  // CloseSession, CloseSecureChannel, socket; best effort, bounded.
  void disconnect();

  // Every forward hierarchical reference of `node`, following continuation
  // points; max_refs is the page size asked of the server.
  HUBLET_STATUS browse(const NodeId& node, std::uint32_t max_refs, std::vector<ReferenceDescription>& out);
  // One result per item, in order (split into several requests when long).
  HUBLET_STATUS read(const std::vector<ReadValueId>& items, std::vector<DataValue>& out);
  // The same for items encoded beforehand (plan_read): each result goes to
  // `each` with the item's position as it is decoded. After a failure the
  // results given are to be dropped.
  HUBLET_STATUS read(const ReadPlan& plan, const ReadResultSink& each);
  HUBLET_STATUS write(const std::vector<WriteValue>& items, std::vector<StatusCode>& out);

  const std::string& url() const { return url_; }
  int channel_renewals() const { return channel_ ? channel_->renewals() : 0; }
  // The server's status behind the latest SERVER_REFUSED of a call: a service
  // fault, a bad service result, a node that cannot be browsed, or a refused
  // channel.
  std::uint32_t refusal() const;
  // Why the latest call failed on the way to the server or in its answer,
  // for a user, naming the server: the channel's reasons, "no answer from
  // 10.255.255.1:4840 within 5 s", "invalid answer from ...: <what>". Empty
  // after a success, a refusal or an interrupt.
  const std::string& failure() const { return failure_; }

 private:
  // Runs attempt(deadline) over a connection, connecting first when there
  // is none, and once more over a new one when an idle one turned out dead.
  template <typename Attempt>
  HUBLET_STATUS retrying(const char* name, Attempt&& attempt);
  template <typename Request, typename Reply>
  HUBLET_STATUS service(Request& request, Reply& reply, const char* name);
  template <typename Request, typename Reply>
  HUBLET_STATUS exchange(Request& request, Reply& reply, const char* name, Deadline deadline);
  // Sends `request` and leaves the response's body in reply_bytes_.
  template <typename Request>
  HUBLET_STATUS send_request(Request& request, Deadline deadline);
  // Decodes reply_bytes_ as `reply`; a fault or a bad service result is a
  // refusal.
  template <typename Reply>
  HUBLET_STATUS take_reply(Reply& reply, const char* name);
  HUBLET_STATUS read_part(const ReadPlan::Request& part, const ReadResultSink& each, Deadline deadline);
  HUBLET_STATUS refused(std::uint32_t code, const char* name);
  HUBLET_STATUS undecodable(HUBLET_STATUS status, const char* name);
  HUBLET_STATUS create_session(Deadline deadline);
  void release_continuation_point(const ByteString& point);
  // Keeps why `status` ended a call that waited up to `waited`, unless kept.
  void note_failure(HUBLET_STATUS status, std::chrono::milliseconds waited);
  HUBLET_STATUS invalid_answer(const std::string& what);

  const Logger& log_;
  std::string url_;
  Endpoint endpoint_;
  Options options_;
  int interrupt_fd_;
  std::unique_ptr<SecureChannel> channel_;
  NodeId authentication_token_;
  bool session_active_ = false;
  bool outage_reported_ = false;
  std::uint32_t request_handle_ = 0;
  std::uint32_t refusal_ = 0;  // set by the service calls; the channel keeps its own
  std::string failure_;
  // Kept from one request to the next, so that a poll allocates nothing here.
  Bytes request_bytes_;
  Bytes reply_bytes_;
};

}  // namespace hublet::ua
