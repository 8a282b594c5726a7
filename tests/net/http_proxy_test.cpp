// The client through HTTP proxies: tinyproxy (absolute-form requests, CONNECT tunnels with TLS
// end to end, Basic credentials, refusals) and scripted proxies for the exact request heads and
// for proxies that misbehave.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/http_client.h"
#include "tests/support/client_load.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tinyproxy_server.h"

namespace djkivo::net {
namespace {

using namespace std::chrono_literals;
using test::Load;
using test::LoadOutcome;
using test::OkResponse;
using test::PeerStep;
using test::ScriptedPeer;
using test::TestCertificates;

// A load through `proxy` that trusts the test CA.
LoadOutcome LoadVia(const std::string& proxy, const std::string& url) {
  return test::LoadTrustingTestCa(url, [&](THttpClient& client) {
    client.SetNetworkSettings({.proxy = proxy, .ca_file = TestCertificates::Get().CaFile()});
  });
}

const demo::TlsServerContext* Tls() {
  return &TestCertificates::Get().Context(test::ServerCertificate::kGood);
}

class HttpTinyproxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TinyproxyServer::Available())
      GTEST_SKIP() << "tinyproxy is not installed";
  }
};

TEST_F(HttpTinyproxyTest, PlainAndTlsPagesGoThroughTheProxy) {
  test::TinyproxyServer proxy;
  ScriptedPeer secure({ScriptedPeer::Answer(OkResponse("secure page"))}, {.tls = Tls()});
  ScriptedPeer plain(
      {ScriptedPeer::Answer(OkResponse("plain page")),
       ScriptedPeer::Answer("HTTP/1.1 302 Found\r\nLocation: " + secure.Url("/moved") +
                            "\r\nContent-Length: 0\r\n\r\n")});
  const LoadOutcome http = LoadVia(proxy.Name(), plain.Url("/page?x=1"));
  EXPECT_TRUE(http.ok) << http.error << proxy.Log();
  EXPECT_EQ(http.body, "plain page");
  // The proxy passed the request on in origin form, with the page's own headers.
  ASSERT_FALSE(plain.Requests().empty());
  EXPECT_TRUE(plain.Requests()[0].starts_with("GET /page?x=1 HTTP/1.")) << plain.Requests()[0];
  EXPECT_NE(plain.Requests()[0].find("User-Agent: TestAgent/1.0\r\n"), std::string::npos);

  // http -> https: the second hop goes through a tunnel, TLS end to end with the server.
  const LoadOutcome redirected = LoadVia(proxy.Name(), plain.Url("/old"));
  EXPECT_TRUE(redirected.ok) << redirected.error << proxy.Log();
  EXPECT_EQ(redirected.body, "secure page");
  ASSERT_EQ(secure.Requests().size(), 1u);
  EXPECT_TRUE(secure.Requests()[0].starts_with(
      "GET /moved HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(secure.Port()) + "\r\n"))
      << secure.Requests()[0];
  EXPECT_NE(proxy.Log().find("CONNECT 127.0.0.1:" + std::to_string(secure.Port())),
            std::string::npos)
      << proxy.Log();
}

TEST_F(HttpTinyproxyTest, BasicCredentialsFromTheProxyAddress) {
  test::TinyproxyServer proxy({.user = "alice", .password = "s3cret"});
  ScriptedPeer plain(
      {ScriptedPeer::Answer(OkResponse("plain")), ScriptedPeer::Answer(OkResponse("unseen"))});
  ScriptedPeer secure({ScriptedPeer::Answer(OkResponse("secure"))}, {.tls = Tls()});
  const std::string name = proxy.Name();
  EXPECT_EQ(LoadVia("http://alice:s3cret@" + name, plain.Url("/")).body, "plain");
  EXPECT_EQ(LoadVia("http://alice:s3cret@" + name, secure.Url("/")).body, "secure");

  struct Case {
    std::string proxy;
    std::string url;
    std::string error;
  };
  const Case kCases[] = {
      {name, plain.Url("/"),
       "Proxy " + name + " asks for credentials: HTTP/1.0 407 Proxy Authentication Required"},
      // tinyproxy answers wrong credentials with a 401, which only its Server header tells
      // from a server's: the message names the proxy the answer came through.
      {"alice:wrong@" + name, plain.Url("/"),
       "HTTP/1.0 401 Unauthorized (through proxy " + name + ")"},
      {"alice:wrong@" + name, secure.Url("/"),
       "Proxy " + name + " refused the tunnel to 127.0.0.1:" + std::to_string(secure.Port()) +
           ": HTTP/1.0 401 Unauthorized"},
      {name, secure.Url("/"),
       "Proxy " + name + " refused the tunnel to 127.0.0.1:" + std::to_string(secure.Port()) +
           ": HTTP/1.0 407 Proxy Authentication Required"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.proxy + " " + c.url);
    const LoadOutcome outcome = LoadVia(c.proxy, c.url);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
  }
}

TEST_F(HttpTinyproxyTest, ARefusingOrDeadProxyFailsTheLoadNamingIt) {
  test::TinyproxyOptions refuse_everyone;
  refuse_everyone.refuse_everyone = true;
  test::TinyproxyServer refusing(refuse_everyone);
  ScriptedPeer plain({ScriptedPeer::Answer(OkResponse("unseen"))});
  ScriptedPeer secure({ScriptedPeer::Answer(OkResponse("unseen"))}, {.tls = Tls()});
  const std::string name = refusing.Name();
  const LoadOutcome http = LoadVia(name, plain.Url("/"));
  EXPECT_EQ(http.error, "HTTP/1.0 403 Access denied (through proxy " + name + ")");
  const LoadOutcome https = LoadVia(name, secure.Url("/"));
  EXPECT_EQ(https.error, "Proxy " + name + " refused the tunnel to 127.0.0.1:" +
                             std::to_string(secure.Port()) + ": HTTP/1.0 403 Access denied");

  int dead_port = 0;
  {
    ScriptedPeer gone({});
    dead_port = gone.Port();
  }
  const std::string dead = "127.0.0.1:" + std::to_string(dead_port);
  for (const std::string& url : {plain.Url("/"), secure.Url("/")}) {
    SCOPED_TRACE(url);
    EXPECT_EQ(LoadVia(dead, url).error, "Proxy " + dead + " cannot be reached: Connection refused");
  }
  EXPECT_TRUE(plain.Requests().empty());
  EXPECT_TRUE(secure.Requests().empty());
}

// --- scripted proxies ------------------------------------------------------------------------

TEST(HttpScriptedProxyTest, RequestsToTheProxyAreExact) {
  ScriptedPeer proxy(
      {ScriptedPeer::Answer(OkResponse("via proxy")),
       {PeerStep::ReadRequest(),
        PeerStep::Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"), PeerStep::Close()}});
  const std::string name = "127.0.0.1:" + std::to_string(proxy.Port());
  const LoadOutcome plain = LoadVia("http://bob:pw@" + name, "http://site.example/a/b.html?q=1");
  EXPECT_EQ(plain.body, "via proxy") << plain.error;
  EXPECT_EQ(proxy.Requests().at(0),
            "GET http://site.example/a/b.html?q=1 HTTP/1.1\r\n"
            "Host: site.example\r\n"
            "Accept: text/html, */*\r\n"
            "Accept-Encoding: gzip, deflate, identity\r\n"
            "User-Agent: TestAgent/1.0\r\n"
            "Proxy-Authorization: Basic Ym9iOnB3\r\n"
            "\r\n");
  const LoadOutcome tunnel = LoadVia("http://bob:pw@" + name, "https://site.example:8443/");
  EXPECT_EQ(tunnel.error,
            "Proxy " + name + " refused the tunnel to site.example:8443: HTTP/1.1 403 Forbidden");
  EXPECT_EQ(proxy.Requests().at(1),
            "CONNECT site.example:8443 HTTP/1.1\r\n"
            "Host: site.example:8443\r\n"
            "Proxy-Authorization: Basic Ym9iOnB3\r\n"
            "User-Agent: TestAgent/1.0\r\n"
            "\r\n");
}

TEST(HttpScriptedProxyTest, AProxyThatMisbehavesFailsTheLoad) {
  const std::string ok = "HTTP/1.1 200 Connection established\r\n\r\n";
  struct Case {
    const char* name;
    test::PeerScript script;
    std::string error;  // after "Proxy NAME " where it starts with a space
  };
  const Case kCases[] = {
      {"502 to CONNECT",
       ScriptedPeer::Answer("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"),
       " refused the tunnel to 127.0.0.1:443: HTTP/1.1 502 Bad Gateway"},
      {"200 then a close",
       {PeerStep::ReadRequest(), PeerStep::Send(ok), PeerStep::Drain(100ms), PeerStep::Close()},
       "TLS handshake with 127.0.0.1 failed: the server closed the connection."},
      {"close instead of an answer",
       {PeerStep::ReadRequest(), PeerStep::Close()},
       " closed the connection instead of opening the tunnel to 127.0.0.1:443."},
      {"data after the 200", ScriptedPeer::Answer(ok + "\x16\x03\x03"),
       " sent data into the tunnel to 127.0.0.1:443 before the TLS handshake."},
      {"reset instead of an answer",
       {PeerStep::ReadRequest(), PeerStep::Pause(50ms), PeerStep::Reset()},
       " broke off the request for a tunnel to 127.0.0.1:443: Connection reset by peer"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer proxy({c.script});
    const std::string name = "127.0.0.1:" + std::to_string(proxy.Port());
    const LoadOutcome outcome = LoadVia(name, "https://127.0.0.1/");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error.starts_with(" ") ? "Proxy " + name + c.error : c.error);
  }
}

TEST(HttpScriptedProxyTest, TheEnvironmentChoosesTheProxyAndNoProxyExemptsHosts) {
  ScriptedPeer proxy({ScriptedPeer::Answer(OkResponse("via proxy"))});
  ScriptedPeer site({ScriptedPeer::Answer(OkResponse("direct"))});
  const std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy.Port());
  const auto load = [&](const char* no_proxy) {
    return Load(site.Url("/"), [&](THttpClient& client) {
      client.SetEnvironment([&](const char* name) -> std::optional<std::string> {
        if (std::string(name) == "http_proxy")
          return proxy_url;
        if (std::string(name) == "no_proxy" && no_proxy)
          return std::string(no_proxy);
        return std::nullopt;
      });
    });
  };
  EXPECT_EQ(load(nullptr).body, "via proxy");  // loopback is not exempt by itself
  EXPECT_EQ(load("localhost, 127.0.0.1").body, "direct");
  EXPECT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(site.Requests().size(), 1u);
}

}  // namespace
}  // namespace djkivo::net
