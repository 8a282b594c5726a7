// The client over TLS: the certificate check (one table of cases against scripted TLS peers),
// peers that misbehave during the handshake or cut the session short, redirects across
// schemes with their cookies, session resumption, and IPv6. nginx speaking HTTPS:
// tests/net/http_nginx_test.cpp.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "net/socket_connection.h"
#include "net/tls_connection.h"
#include "net/tls_context.h"
#include "tests/support/client_load.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_certificates.h"

namespace djkivo::net {
namespace {

using namespace std::chrono_literals;
using test::Load;
using test::LoadOutcome;
using test::LoadTrustingTestCa;
using test::OkResponse;
using test::PeerOptions;
using test::PeerScript;
using test::PeerStep;
using test::ScriptedPeer;
using test::ServerCertificate;
using test::TestCertificates;

const demo::TlsServerContext* Tls(ServerCertificate which = ServerCertificate::kGood) {
  return &TestCertificates::Get().Context(which);
}

bool HasIpv6Loopback() {
  try {
    ScriptedPeer probe({}, {.ipv6 = true});
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// --- the certificate check -----------------------------------------------------------------

TEST(HttpsCertificateTest, EachProblemFailsTheLoadInPlainWords) {
  struct Case {
    const char* name;
    ServerCertificate certificate;
    std::optional<TCertificateProblem> problem;  // none: the page loads
    std::string message_start;                   // of the error
    std::string message_part;                    // somewhere in it
  };
  const Case kCases[] = {
      {"good", ServerCertificate::kGood, std::nullopt, "", ""},
      {"sent with its intermediate", ServerCertificate::kWithIntermediate, std::nullopt, "", ""},
      {"a 20,000-byte chain", ServerCertificate::kLargeChain, std::nullopt, "", ""},
      {"expired", ServerCertificate::kExpired, TCertificateProblem::kExpired,
       "The certificate of 127.0.0.1 has expired (it was valid until ", " UTC)."},
      {"not yet valid", ServerCertificate::kNotYetValid, TCertificateProblem::kNotYetValid,
       "The certificate of 127.0.0.1 is not yet valid (it is valid from ", " UTC)."},
      {"issued for another host", ServerCertificate::kOtherHost, TCertificateProblem::kOtherHost,
       "The certificate of 127.0.0.1 was issued for other.example, not for 127.0.0.1.", ""},
      {"self-signed", ServerCertificate::kSelfSigned, TCertificateProblem::kSelfSigned,
       "The certificate of 127.0.0.1 is self-signed, and not trusted.", ""},
      {"unknown issuer", ServerCertificate::kUnknownIssuer, TCertificateProblem::kUnknownIssuer,
       "The certificate of 127.0.0.1 was issued by an unknown authority (\"Nobody's CA\")", ""},
      {"incomplete chain", ServerCertificate::kMissingIntermediate,
       TCertificateProblem::kUnknownIssuer,
       "The certificate of 127.0.0.1 was issued by an unknown authority (\"DJKivo Test "
       "Intermediate\"), or the server did not send the certificates between them.",
       ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("secret page"))},
                      {.tls = Tls(c.certificate)});
    const LoadOutcome outcome = LoadTrustingTestCa(peer.Url("/p"));
    EXPECT_EQ(outcome.certificate_problem, c.problem) << outcome.error;
    if (!c.problem) {
      EXPECT_TRUE(outcome.ok) << outcome.error;
      EXPECT_EQ(outcome.body, "secret page");
      continue;
    }
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.error.starts_with(c.message_start)) << outcome.error;
    EXPECT_NE(outcome.error.find(c.message_part), std::string::npos) << outcome.error;
    EXPECT_EQ(outcome.body, "");
    EXPECT_TRUE(peer.Requests().empty()) << "a request went to a server that failed the check";
  }
}

TEST(HttpsCertificateTest, TheHostNameIsCheckedForNamesAndAddresses) {
  // The good certificate names localhost, 127.0.0.1 and ::1; the peer is the same each time.
  ScriptedPeer peer(
      {ScriptedPeer::Answer(OkResponse("by name")), ScriptedPeer::Answer(OkResponse("unseen"))},
      {.tls = Tls()});
  const std::string port = std::to_string(peer.Port());
  const LoadOutcome by_name = LoadTrustingTestCa("https://localhost:" + port + "/");
  EXPECT_TRUE(by_name.ok) << by_name.error;
  // Only the system store: the test CA is unknown there.
  const LoadOutcome untrusted = Load(peer.Url("/"), [](THttpClient& client) {
    client.SetTlsContext(std::make_shared<TTlsContext>(""));
  });
  EXPECT_EQ(untrusted.certificate_problem, TCertificateProblem::kUnknownIssuer) << untrusted.error;

  if (!HasIpv6Loopback())
    GTEST_SKIP() << "no IPv6 loopback on this machine: [::1] cannot be tested";
  ScriptedPeer six({ScriptedPeer::Answer(OkResponse("over IPv6"))}, {.ipv6 = true, .tls = Tls()});
  const LoadOutcome over_six = LoadTrustingTestCa(six.Url("/p"));
  EXPECT_TRUE(over_six.ok) << over_six.error;
  EXPECT_EQ(over_six.body, "over IPv6");
  EXPECT_TRUE(six.Requests().at(0).find("\r\nHost: [::1]:" + std::to_string(six.Port()) + "\r\n") !=
              std::string::npos)
      << six.Requests().at(0);
  ScriptedPeer six_other({ScriptedPeer::Answer(OkResponse("x"))},
                         {.ipv6 = true, .tls = Tls(ServerCertificate::kOtherHost)});
  EXPECT_EQ(LoadTrustingTestCa(six_other.Url("/")).error,
            "The certificate of ::1 was issued for other.example, not for ::1.");
}

TEST(HttpsCertificateTest, AnUnreadableCaFileFailsTheLoad) {
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("x"))}, {.tls = Tls()});
  const LoadOutcome outcome = Load(peer.Url("/"), [](THttpClient& client) {
    client.SetNetworkSettings({.proxy = "", .ca_file = "/nonexistent/ca.pem"});
  });
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.error.starts_with("Cannot read the CA file \"/nonexistent/ca.pem\": "))
      << outcome.error;
}

// --- what the client offers and sends -----------------------------------------------------

// A server context of the test's own on the good certificate, which the test changes (through
// OpenSSL) before any peer uses it.
std::unique_ptr<demo::TlsServerContext> OwnServerContext() {
  const test::ServerFiles& files = TestCertificates::Get().Files(ServerCertificate::kGood);
  return std::make_unique<demo::TlsServerContext>(files.certificate_file, files.key_file);
}

// Makes a handshake with an OpenSSL client that takes any version from TLS 1.0 on; the version
// agreed, or 0 when the handshake failed. Shows what a test peer really offers.
int VersionAgreedByALenientClient(int port) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                            SSL_CTX_free);
  SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
  SSL_CTX_set_security_level(context.get(), 0);
  SSL_CTX_set_cipher_list(context.get(), "DEFAULT:@SECLEVEL=0");
  TSocketConnection socket("127.0.0.1", std::to_string(port), 10s, 10s);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
  SSL_set_fd(ssl.get(), socket.Fd());
  // The socket is non-blocking: wait for each step the handshake asks for.
  for (int result = SSL_connect(ssl.get()); result != 1; result = SSL_connect(ssl.get())) {
    const int error = SSL_get_error(ssl.get(), result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      return 0;
    if (!WaitForSocket(socket.Fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, 10s))
      return 0;
  }
  return SSL_version(ssl.get());
}

TEST(HttpsVersionTest, AServerOfferingOnlyTls11IsRefused) {
  std::unique_ptr<demo::TlsServerContext> old_server = OwnServerContext();
  // Security level 0, or OpenSSL 3 will not speak TLS 1.1 at all.
  SSL_CTX_set_security_level(old_server->Get(), 0);
  SSL_CTX_set_cipher_list(old_server->Get(), "DEFAULT:@SECLEVEL=0");
  SSL_CTX_set_min_proto_version(old_server->Get(), TLS1_VERSION);
  SSL_CTX_set_max_proto_version(old_server->Get(), TLS1_1_VERSION);
  ScriptedPeer peer({{PeerStep::Stall()}, ScriptedPeer::Answer(OkResponse("unseen"))},
                    {.tls = old_server.get()});
  ASSERT_EQ(VersionAgreedByALenientClient(peer.Port()), TLS1_1_VERSION)
      << "the peer does not speak TLS 1.1: the case below proves nothing";
  const LoadOutcome outcome = LoadTrustingTestCa(peer.Url("/"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error,
            "TLS handshake with 127.0.0.1 failed: tlsv1 alert protocol version (the server offers "
            "no TLS version from 1.2 on).");
  EXPECT_TRUE(peer.Requests().empty());
}

// The server names the client sent, as the server's name callback saw them ("" for none).
class ServerNameRecorder {
 public:
  explicit ServerNameRecorder(SSL_CTX* context) {
    SSL_CTX_set_tlsext_servername_callback(context, OnHello);
    SSL_CTX_set_tlsext_servername_arg(context, this);
  }
  std::vector<std::string> Names() const {
    std::lock_guard lock(mutex_);
    return names_;
  }

 private:
  // On the peer's connection threads.
  static int OnHello(SSL* ssl, int*, void* self) {
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    auto* recorder = static_cast<ServerNameRecorder*>(self);
    std::lock_guard lock(recorder->mutex_);
    recorder->names_.emplace_back(name ? name : "");
    return SSL_TLSEXT_ERR_OK;
  }

  mutable std::mutex mutex_;
  std::vector<std::string> names_;  // guarded by mutex_
};

TEST(HttpsVersionTest, TheHostNameIsSentForANameAndNotForAnAddress) {
  std::unique_ptr<demo::TlsServerContext> server = OwnServerContext();
  const ServerNameRecorder recorder(server->Get());
  ScriptedPeer peer(
      {ScriptedPeer::Answer(OkResponse("by name")), ScriptedPeer::Answer(OkResponse("by address"))},
      {.tls = server.get()});
  const std::string port = std::to_string(peer.Port());
  // Each load its own context: a resumed session carries no fresh name to record.
  EXPECT_EQ(LoadTrustingTestCa("https://localhost:" + port + "/").body, "by name");
  EXPECT_EQ(LoadTrustingTestCa("https://127.0.0.1:" + port + "/").body, "by address");
  EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"localhost", ""}));
}

// --- peers that misbehave ------------------------------------------------------------------

struct FailureCase {
  const char* name;
  PeerScript script;
  bool tls;  // the peer makes the handshake
  std::string error;
};

TEST(HttpsFailureTest, ABrokenHandshakeOrSessionFailsTheLoad) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
  const FailureCase kCases[] = {
      {"garbage instead of a ServerHello",
       {PeerStep::Send("HTTP/1.1 400 Bad Request\r\n\r\n"), PeerStep::Stall()},
       false,
       "TLS handshake with 127.0.0.1 failed: wrong version number (the server does not speak TLS "
       "on this port)."},
      {"stall after the ClientHello",
       {PeerStep::Stall()},
       false,
       "TLS handshake with 127.0.0.1 timed out."},
      {"close during the handshake",
       {PeerStep::Drain(100ms), PeerStep::Close()},
       false,
       "TLS handshake with 127.0.0.1 failed: the server closed the connection."},
      {"reset during the handshake",
       {PeerStep::Pause(100ms), PeerStep::Reset()},
       false,
       "Socket Error # 104\r\nConnection reset by peer"},
      {"close without close_notify inside a sized body",
       {PeerStep::ReadRequest(), PeerStep::Send(head + "partial"), PeerStep::Cut()},
       true,
       "Connection closed without TLS close_notify."},
      {"close without close_notify inside a chunked body",
       {PeerStep::ReadRequest(),
        PeerStep::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab"),
        PeerStep::Cut()},
       true,
       "Connection closed without TLS close_notify."},
      {"close without close_notify ending a body read up to the close",
       {PeerStep::ReadRequest(), PeerStep::Send("HTTP/1.1 200 OK\r\n\r\nall of it?"),
        PeerStep::Cut()},
       true,
       "Connection closed without TLS close_notify."},
      {"close_notify inside a sized body",
       {PeerStep::ReadRequest(), PeerStep::Send(head + "partial"), PeerStep::Close()},
       true,
       "Connection Closed Gracefully."},
      {"reset inside the body",
       {PeerStep::ReadRequest(), PeerStep::Send(head + "partial"), PeerStep::Pause(50ms),
        PeerStep::Reset()},
       true,
       "Socket Error # 104\r\nConnection reset by peer"},
      {"stall inside the body",
       {PeerStep::ReadRequest(), PeerStep::Send(head), PeerStep::Stall()},
       true,
       "Read timed out."},
  };
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(c.name);
    PeerOptions options;
    options.tls = c.tls ? Tls() : nullptr;
    ScriptedPeer peer({c.script}, options);
    const std::string url = "https://127.0.0.1:" + std::to_string(peer.Port()) + "/p";
    const auto started = std::chrono::steady_clock::now();
    const LoadOutcome outcome = LoadTrustingTestCa(url);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(outcome.body, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  }
}

TEST(HttpsFailureTest, ABodyReadUpToAProperCloseArrivesWhole) {
  ScriptedPeer peer({ScriptedPeer::Answer("HTTP/1.1 200 OK\r\n\r\nall of it")}, {.tls = Tls()});
  const LoadOutcome outcome = LoadTrustingTestCa(peer.Url("/"));
  EXPECT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "all of it");
}

TEST(HttpsFailureTest, AHandshakeThatTricklesIsCutByTheLoadLimit) {
  ScriptedPeer peer({{PeerStep::Stall()}});
  const auto started = std::chrono::steady_clock::now();
  const LoadOutcome outcome = LoadTrustingTestCa(
      "https://127.0.0.1:" + std::to_string(peer.Port()) + "/", [](THttpClient& client) {
        client.SetReadTimeout(30s);
        client.SetLoadTimeout(700ms);
      });
  EXPECT_EQ(outcome.error, "Load timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

// --- redirects across schemes --------------------------------------------------------------

std::string Redirect(const std::string& location, const std::string& extra = "") {
  return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra +
         "Content-Length: 0\r\n\r\n";
}

// plain -> secure (sets a Secure and a plain cookie) -> plain (tries to set a Secure one) ->
// secure: three redirects across schemes. The peers are made last hop first, so that each
// knows the address of the next.
struct SchemeChain {
  ScriptedPeer last{{ScriptedPeer::Answer(OkResponse("final"))}, {.tls = Tls()}};
  ScriptedPeer back_to_plain{
      {ScriptedPeer::Answer(Redirect(last.Url("/last"), "Set-Cookie: planted=3; Secure\r\n"))}};
  ScriptedPeer secure{
      {ScriptedPeer::Answer(Redirect(back_to_plain.Url("/plain"),
                                     "Set-Cookie: secret=1; Secure\r\nSet-Cookie: open=2\r\n"))},
      {.tls = Tls()}};
  ScriptedPeer first{{ScriptedPeer::Answer(Redirect(secure.Url("/secure")))}};
};

TEST(HttpsRedirectTest, RedirectsCrossSchemesAndSecureCookiesStayOnHttps) {
  SchemeChain chain;
  const LoadOutcome outcome = LoadTrustingTestCa(chain.first.Url("/start"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "final");
  const std::string plain = chain.back_to_plain.Requests().at(0);
  EXPECT_TRUE(plain.ends_with("\r\nCookie: open=2\r\n\r\n")) << plain;
  const std::string last = chain.last.Requests().at(0);
  EXPECT_TRUE(last.ends_with("\r\nCookie: secret=1; open=2\r\n\r\n")) << last;
}

TEST(HttpsRedirectTest, TheRedirectLimitCountsAcrossSchemes) {
  SchemeChain chain;
  const LoadOutcome outcome = LoadTrustingTestCa(
      chain.first.Url("/start"), [](THttpClient& client) { client.SetRedirectMaximum(3); });
  EXPECT_EQ(outcome.error, "Too many redirects.");
  EXPECT_TRUE(chain.last.Requests().empty());
}

// --- sessions ------------------------------------------------------------------------------

TEST(HttpsSessionTest, ASecondConnectionResumesTheSession) {
  ScriptedPeer peer(
      {ScriptedPeer::Answer(OkResponse("one")), ScriptedPeer::Answer(OkResponse("two"))},
      {.tls = Tls()});
  auto context = std::make_shared<TTlsContext>(TestCertificates::Get().CaFile());
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  std::vector<bool> resumed;
  for (const char* expected : {"one", "two"}) {
    auto socket =
        std::make_unique<TSocketConnection>("127.0.0.1", std::to_string(peer.Port()), 10s, 10s);
    TTlsConnection tls(std::move(socket), "127.0.0.1", std::to_string(peer.Port()), context,
                       deadline);
    resumed.push_back(tls.Resumed());
    tls.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string line;
    while (tls.ReadLine(line)) {
    }
    EXPECT_EQ(line, expected);  // the body, after the head, up to the close
  }
  EXPECT_EQ(resumed, (std::vector<bool>{false, true}));
  EXPECT_EQ(context->RememberedSessions(), 1u);
  context->ForgetSessions();
  EXPECT_EQ(context->RememberedSessions(), 0u);
}

}  // namespace
}  // namespace djkivo::net
