// Connecting without a real server: endpoint URLs, trying every address,
// peers that misbehave, and the library's handles and arguments.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>

#include "fake_peer.h"
#include "hublet/hublet.h"
#include "netio/tcp_connect.h"
#include "ua_transport.h"

namespace hublet {
namespace {

using namespace std::chrono_literals;
using testing::FakePeer;

std::chrono::milliseconds elapsed_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

Options quick() {
  Options o;
  o.connect_timeout = 500ms;
  o.request_timeout = 500ms;
  return o;
}

std::string chunk(const char* type, const ua::Bytes& body) {
  ua::Writer w;
  w.raw(type, 4);
  w.uint(static_cast<std::uint32_t>(8 + body.size()));
  w.raw(body.data(), body.size());
  return std::string(w.bytes().begin(), w.bytes().end());
}

std::string acknowledge(std::uint32_t receive_buffer = 65536) {
  return chunk("ACKF", ua::encode_to_bytes(ua::TransportLimits{0, receive_buffer, 65536, 0, 0}));
}

TEST(EndpointUrl, AcceptsHostPortAndBracketedAddresses) {
  ua::Endpoint e;
  ASSERT_TRUE(ua::parse_endpoint("opc.tcp://localhost:22200", e));
  EXPECT_EQ(e.host, "localhost");
  EXPECT_EQ(e.port, 22200);
  ASSERT_TRUE(ua::parse_endpoint("OPC.TCP://[::1]:4841/UA/Server", e));
  EXPECT_EQ(e.host, "::1");
  EXPECT_EQ(e.port, 4841);
  ASSERT_TRUE(ua::parse_endpoint("opc.tcp://plant-7/path", e));
  EXPECT_EQ(e.port, 4840);
  for (const char* bad : {"", "opc.tcp://", "http://localhost:80", "opc.tcp://:4840", "opc.tcp://host:",
                          "opc.tcp://host:0", "opc.tcp://host:65536", "opc.tcp://host:12ab", "opc.tcp://[::1",
                          "opc.tcp://[::1]x", "opc.tcp://us er@host:1", "localhost:22200"}) {
    EXPECT_FALSE(ua::parse_endpoint(bad, e)) << bad;
  }
}

TEST(Connect, TriesEveryAddressUntilOneAnswers) {
  FakePeer peer([](int fd, int stop) { FakePeer::linger(fd, stop); });
  ua::Address v6;
  auto* a6 = reinterpret_cast<sockaddr_in6*>(&v6.storage);
  a6->sin6_family = AF_INET6;
  a6->sin6_addr = in6addr_loopback;
  a6->sin6_port = htons(static_cast<std::uint16_t>(peer.port()));
  v6.length = sizeof(sockaddr_in6);
  ua::Address v4;
  auto* a4 = reinterpret_cast<sockaddr_in*>(&v4.storage);
  a4->sin_family = AF_INET;
  a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a4->sin_port = htons(static_cast<std::uint16_t>(peer.port()));
  v4.length = sizeof(sockaddr_in);

  // Nothing listens on [::1] at this port: the IPv4 address must still be tried.
  ua::Socket socket;
  std::string error;
  const auto deadline = ua::Clock::now() + 2s;
  ASSERT_EQ(ua::Socket::connect_any({v6, v4}, deadline, socket, error), HUBLET_STATUS_GOOD) << error;
  EXPECT_TRUE(socket.is_open());

  ua::Socket none;
  EXPECT_EQ(ua::Socket::connect_any({v6, v6}, deadline, none, error), HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_NE(error.find("[::1]:" + std::to_string(peer.port())), std::string::npos) << error;
  EXPECT_FALSE(none.is_open());
}

// `text` with every "{}" replaced by `value`.
std::string with(std::string text, const std::string& value) {
  for (auto at = text.find("{}"); at != std::string::npos; at = text.find("{}", at + value.size()))
    text.replace(at, 2, value);
  return text;
}

TEST(Connect, MisbehavingPeersGiveAnInvalidHandleQuicklyAndTheReasonNamesThem) {
  struct Case {
    const char* name;
    FakePeer::Serve serve;
    const char* reason;  // "{}" for the peer's 127.0.0.1:port
  };
  const Case cases[] = {
      {"answers in another protocol",
       [](int fd, int stop) {
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
       },
       "{} is not an OPC UA server: it answered \"HTTP/1.1 400 Bad Request\""},
      {"says nothing", [](int fd, int stop) { FakePeer::linger(fd, stop); },
       "no answer from {} within 500 ms"},
      {"hangs up after Hello", [](int fd, int stop) { FakePeer::receive(fd, stop, 8); },
       "connection to {} lost: closed by the server"},
      {"announces a huge chunk",
       [](int fd, int stop) {
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, std::string("ACKF\xFF\xFF\xFF\x7F", 8));
         FakePeer::linger(fd, stop);
       },
       "{} is not an OPC UA server: it answered \"ACKF\\xFF\\xFF\\xFF\\x7F\""},
      {"announces a tiny buffer",
       [](int fd, int stop) {
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, acknowledge(64));
         FakePeer::linger(fd, stop);
       },
       "invalid answer from {}: Acknowledge with unusable buffer sizes"},
      {"acknowledges, then sends garbage",
       [](int fd, int stop) {
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, acknowledge());
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, std::string("OPNF\x20\x00\x00\x00", 8) + std::string(24, '\x7F'));
         FakePeer::linger(fd, stop);
       },
       "invalid answer from {}: bad chunk"},
      {"acknowledges, then truncates its answer",
       [](int fd, int stop) {
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, acknowledge());
         FakePeer::receive(fd, stop, 8);
         FakePeer::send(fd, std::string("OPNF\x00\x01\x00\x00", 8) + std::string(40, '\0'));
       },
       "connection to {} lost: closed by the server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePeer peer(c.serve);
    HubletLibrary hub(quick());
    hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hub.create_source(0, peer.endpoint(), 1000, 1), HUBLET_INVALID_HANDLE);
    EXPECT_LT(elapsed_since(start), 1500ms);
    EXPECT_EQ(last_transport_error(), with(c.reason, "127.0.0.1:" + std::to_string(peer.port())));
  }
}

TEST(Connect, AnErrorMessageIsRefusedWithTheServersStatusInTheLog) {
  FakePeer peer([](int fd, int stop) {
    FakePeer::receive(fd, stop, 8);
    FakePeer::send(fd,
                   chunk("ERRF", ua::encode_to_bytes(ua::ErrorMessage{{0x80830000}, "unknown endpoint"})));
  });
  HubletLibrary hub(quick());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(hub.create_source(0, peer.endpoint(), 1000, 1), HUBLET_INVALID_HANDLE);
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("BadTcpEndpointUrlInvalid (0x80830000) unknown endpoint"), std::string::npos) << log;
  // The caller gets the server's reason too, until its next call.
  EXPECT_EQ(last_server_status(), 0x80830000u);
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  EXPECT_EQ(hub.create_source(0, "not a url", 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(last_server_status(), 0u);
}

TEST(Connect, UnreachableEndpointsAndBadArgumentsAreRefusedWithinTheTimeOut) {
  HubletLibrary hub(quick());
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const int closed_port = [] {
    FakePeer peer([](int, int) {});
    return peer.port();
  }();
  const auto start = std::chrono::steady_clock::now();
  const std::string closed = "127.0.0.1:" + std::to_string(closed_port);
  EXPECT_EQ(hub.create_source(0, "opc.tcp://" + closed, 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(last_transport_error(), "cannot connect to " + closed + ": Connection refused");
  EXPECT_EQ(hub.create_source(0, "opc.tcp://no-such-host.invalid:4840", 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_TRUE(last_transport_error().starts_with("cannot resolve host no-such-host.invalid: "))
      << last_transport_error();
  // Unroutable: either refused by the network at once or given up at the
  // time-out; some networks answer for every address.
  EXPECT_EQ(hub.create_source(0, "opc.tcp://10.255.255.1:4840", 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_NE(last_transport_error().find("10.255.255.1:4840"), std::string::npos) << last_transport_error();
  EXPECT_EQ(hub.create_source(0, "not a url", 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(last_transport_error(), "") << "no connection tried";
  EXPECT_EQ(hub.create_source(1, "opc.tcp://127.0.0.1:4840", 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(hub.create_source(0, "opc.tcp://127.0.0.1:4840", -5, 1), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(hub.create_source(0, "opc.tcp://127.0.0.1:4840", 1000, 7), HUBLET_INVALID_HANDLE);
  EXPECT_LT(elapsed_since(start), 3s);
}

TEST(Connect, APeerThatNeverAcceptsIsGivenUpAtTheTimeOut) {
  // A backlog of 0 holds one connection; the kernel drops further SYNs.
  netio::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::listen(listener.get(), 0), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string where = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  netio::Connection first = netio::connect_host("127.0.0.1", ntohs(addr.sin_port), ua::Clock::now() + 1s);
  ASSERT_TRUE(first.socket) << first.error;

  HubletLibrary hub(quick());
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hub.create_source(0, "opc.tcp://" + where, 1000, 1), HUBLET_INVALID_HANDLE);
  EXPECT_LT(elapsed_since(start), 1500ms);
  EXPECT_EQ(last_transport_error(), "no answer from " + where + " within 500 ms");
}

TEST(Library, CallsOnALazySourceFailWhileTheServerIsAway) {
  const int closed_port = [] {
    FakePeer peer([](int, int) {});
    return peer.port();
  }();
  HubletLibrary hub(quick());
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  const int source = hub.create_source(0, "opc.tcp://127.0.0.1:" + std::to_string(closed_port), 1000, 0);
  ASSERT_NE(source, HUBLET_INVALID_HANDLE);
  const std::string refused =
      "cannot connect to 127.0.0.1:" + std::to_string(closed_port) + ": Connection refused";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hub.browse_source(source, 1000, 2, "G1").first, HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_EQ(last_transport_error(), refused);
  EXPECT_EQ(hub.browse_source(source, 1000, 2, "").first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(last_transport_error(), "") << "each call says its own";
  const int group = hub.create_group(source, "G1");
  ASSERT_NE(group, HUBLET_INVALID_HANDLE);
  const auto [subscribed, items] = hub.subscribe_group(group, {{HUBLET_DATATYPE_DOUBLE, 2, "G1.A"}});
  ASSERT_EQ(subscribed, HUBLET_STATUS_GOOD);
  EXPECT_EQ(hub.read_group_values(group, items).first, HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_EQ(last_transport_error(), refused);
  EXPECT_EQ(hub.write_group_values(group, items, {1.0}), HUBLET_STATUS_NOT_CONNECTED);
  EXPECT_EQ(last_transport_error(), refused);
  EXPECT_LT(elapsed_since(start), 1s);
}

TEST(Library, RefusesUnknownHandlesAndBadArguments) {
  HubletLibrary hub(quick());
  hub.set_log_level(HUBLET_LOG_LEVEL_OFF);
  EXPECT_EQ(hub.browse_source(HUBLET_INVALID_HANDLE, 1000, 2, "G1").first, HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.create_group(12345, "G1"), HUBLET_INVALID_HANDLE);
  EXPECT_EQ(hub.subscribe_group(12345, {}).first, HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.read_group_values(12345, {}).first, HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.write_group_values(12345, {}, {}), HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.destroy_group(12345), HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.destroy_source(12345), HUBLET_STATUS_BAD_HANDLE);

  const int source = hub.create_source(0, "opc.tcp://127.0.0.1:9", 1000, 0);
  ASSERT_NE(source, HUBLET_INVALID_HANDLE);
  EXPECT_EQ(hub.browse_source(source, -1, 2, "G1").first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.browse_source(source, 1000, 70000, "G1").first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.browse_source(source, 1000, 2, "").first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.browse_source(source, 1000, 0, "4294967296").first, HUBLET_STATUS_INVALID_ARGUMENT);

  const int group = hub.create_group(source, "G1");
  const auto [status, items] = hub.subscribe_group(group, {{11, 2, "G1.A"}, {11, 2, "G1.B"}});
  ASSERT_EQ(status, HUBLET_STATUS_GOOD);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_NE(items[0], items[1]);
  EXPECT_EQ(hub.subscribe_group(group, {{11, 2, ""}}).first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.subscribe_group(group, {{99, 2, "G1.C"}}).first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.subscribe_group(group, {{11, -1, "G1.C"}}).first, HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.write_group_values(group, items, {1.0}), HUBLET_STATUS_INVALID_ARGUMENT);
  EXPECT_EQ(hub.read_group_values(group, {items[0], 999999}).first, HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.read_group_values(group, {}).first, HUBLET_STATUS_GOOD) << "nothing to ask";

  // Destroying the source takes its groups along; destroy() may come twice.
  EXPECT_EQ(hub.destroy_source(source), HUBLET_STATUS_GOOD);
  EXPECT_EQ(hub.read_group_values(group, items).first, HUBLET_STATUS_BAD_HANDLE);
  EXPECT_EQ(hub.destroy_group(group), HUBLET_STATUS_BAD_HANDLE);
  hub.destroy();
  hub.destroy();
}

}  // namespace
}  // namespace hublet
