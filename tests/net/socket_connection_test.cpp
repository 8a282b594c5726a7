// The TCP connect: every address of a host is tried, in order, within the one connect limit,
// and IPv6 literals work in addresses and Host headers.
#include "net/socket_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>

#include "net/http_errors.h"
#include "tests/support/client_load.h"
#include "tests/support/loopback_port.h"
#include "tests/support/scripted_peer.h"

namespace djkivo::net {
namespace {

using namespace std::chrono_literals;
using test::OkResponse;
using test::ScriptedPeer;

TSocketAddress Loopback(int port) {
  TSocketAddress address;
  auto& v4 = reinterpret_cast<sockaddr_in&>(address.storage);
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  v4.sin_port = htons(static_cast<std::uint16_t>(port));
  address.length = sizeof v4;
  return address;
}

int ClosedPort() {
  ScriptedPeer gone({});
  return gone.Port();
}

TEST(SocketConnectionTest, EveryAddressIsTriedWithinTheOneConnectLimit) {
  const test::SilentListener silent;
  const int closed = ClosedPort();
  struct Case {
    const char* name;
    std::vector<int> dead_ports;  // tried before the live one
  };
  const Case kCases[] = {
      {"the only address", {}},
      {"after a refused one", {closed}},
      {"after one that never answers", {silent.Port()}},
      {"after both", {silent.Port(), closed, silent.Port()}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer live({ScriptedPeer::Answer(OkResponse("x"))});
    std::vector<TSocketAddress> addresses;
    for (const int port : c.dead_ports)
      addresses.push_back(Loopback(port));
    addresses.push_back(Loopback(live.Port()));
    // A connect that waited for the silent address alone would end at this limit, failed.
    TSocketConnection connection(addresses, "127.0.0.1", "0", 20s, 5s);
    connection.Send("GET / HTTP/1.1\r\n\r\n");
    std::string line;
    EXPECT_TRUE(connection.ReadLine(line));
    EXPECT_EQ(line, "HTTP/1.1 200 OK");
  }
}

TEST(SocketConnectionTest, WhenEveryAddressFailsTheConnectFails) {
  const test::SilentListener silent;
  const int closed = ClosedPort();
  try {
    TSocketConnection({Loopback(closed), Loopback(closed)}, "127.0.0.1", "0", 5s, 5s);
    ADD_FAILURE() << "connected";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.LastError(), ECONNREFUSED);
  }
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(
      TSocketConnection({Loopback(silent.Port()), Loopback(closed)}, "127.0.0.1", "0", 600ms, 5s),
      EConnectTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(SocketConnectionTest, NamesAndLiteralsResolveToTheirFamilies) {
  const std::vector<TSocketAddress> v4 = ResolveHost("127.0.0.1", "80");
  ASSERT_EQ(v4.size(), 1u);
  EXPECT_EQ(v4[0].storage.ss_family, AF_INET);
  const std::vector<TSocketAddress> v6 = ResolveHost("::1", "80");
  ASSERT_EQ(v6.size(), 1u);
  EXPECT_EQ(v6[0].storage.ss_family, AF_INET6);
  EXPECT_FALSE(ResolveHost("localhost", "80").empty());
  EXPECT_THROW(ResolveHost("", "80"), EHostRequired);
  EXPECT_THROW(ResolveHost("no-such-host.invalid", "80"), ESocketError);
}

TEST(SocketConnectionTest, PagesLoadOverIpv6) {
  std::unique_ptr<ScriptedPeer> peer;
  try {
    peer = std::make_unique<ScriptedPeer>(
        std::vector<test::PeerScript>{ScriptedPeer::Answer(OkResponse("six"))},
        test::PeerOptions{.ipv6 = true});
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback on this machine: [::1] cannot be tested";
  }
  const test::LoadOutcome outcome = test::Load(peer->Url("/p"));
  EXPECT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "six");
  EXPECT_TRUE(peer->Requests().at(0).starts_with(
      "GET /p HTTP/1.1\r\nHost: [::1]:" + std::to_string(peer->Port()) + "\r\n"))
      << peer->Requests().at(0);
}

}  // namespace
}  // namespace djkivo::net
