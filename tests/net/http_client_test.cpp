// The client against a scripted loopback peer: exact request bytes in, scripted response out.
// Groups: request head, framing, encodings, redirects and keep-alive, cookies, failures.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "net/http_framing.h"
#include "tests/support/client_load.h"
#include "tests/support/compressed.h"
#include "tests/support/loopback_port.h"
#include "tests/support/scripted_peer.h"

namespace djkivo::net {
namespace {

using namespace std::chrono_literals;
using test::OkResponse;
using test::PeerScript;
using test::PeerStep;
using test::ScriptedPeer;

using Outcome = test::LoadOutcome;
using test::kTestReadTimeout;
using test::Load;

std::string Ok(const std::string& headers, const std::string& body) {
  return "HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body;
}

// --- request head -----------------------------------------------------------------------

TEST(HttpClientRequestTest, SendsTheExactPageLoadHead) {
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("page"))});
  const Outcome outcome = Load(peer.Url("/dance/play/123.html"), [](THttpClient& client) {
    client.Request().accept =
        "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, */*";
    client.Request().accept_language = "zh-cn";
  });
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "page");
  ASSERT_EQ(peer.Requests().size(), 1u);
  EXPECT_EQ(peer.Requests()[0],
            "GET /dance/play/123.html HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(peer.Port()) +
                "\r\n"
                "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                "application/x-shockwave-flash, */*\r\n"
                "Accept-Encoding: gzip, deflate, identity\r\n"
                "Accept-Language: zh-cn\r\n"
                "User-Agent: TestAgent/1.0\r\n"
                "\r\n");
}

TEST(HttpClientRequestTest, QueryIsSentAsGivenAndOtherBytesBecomeQuestionMarks) {
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("x"))});
  ASSERT_TRUE(Load(peer.Url("/search.html?pageid=2&keyword=%B9%B7+a&keytype=1#top")).ok);
  ScriptedPeer peer2({ScriptedPeer::Answer(OkResponse("x"))});
  ASSERT_TRUE(Load(peer2.Url("/\xB9\xB7.html")).ok);
  EXPECT_TRUE(peer.Requests().at(0).starts_with(
      "GET /search.html?pageid=2&keyword=%B9%B7+a&keytype=1 HTTP/1.1\r\n"));
  EXPECT_TRUE(peer2.Requests().at(0).starts_with("GET /??.html HTTP/1.1\r\n"));
}

// --- framing ------------------------------------------------------------------------------

struct FramingCase {
  const char* name;
  PeerScript script;
  std::string body;
};

TEST(HttpClientFramingTest, BodiesArriveWhole) {
  const std::string big = test::PageText(200000);
  const std::vector<FramingCase> kCases = {
      {"content length", ScriptedPeer::Answer(OkResponse("hello")), "hello"},
      {"content length, connection left open", ScriptedPeer::AnswerEach({OkResponse(big)}), big},
      {"content length 0, connection left open", ScriptedPeer::AnswerEach({OkResponse("")}), ""},
      {"204, connection left open", ScriptedPeer::AnswerEach({"HTTP/1.1 204 No Content\r\n\r\n"}),
       ""},
      {"read until close", ScriptedPeer::Answer(Ok("", big)), big},
      {"read until close, HTTP/1.0", ScriptedPeer::Answer("HTTP/1.0 200 OK\r\n\r\nold"), "old"},
      {"chunked 1a and 0",
       ScriptedPeer::AnswerEach(
           {Ok("Transfer-Encoding: chunked\r\n",
               "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Trailer: t\r\n\r\n")}),
       "abcdefghijklmnopqrstuvwxyz"},
      {"chunked with extensions, spaces and upper-case hex",
       ScriptedPeer::AnswerEach({Ok("Transfer-Encoding: Chunked\r\n",
                                    "3;name=v\r\nabc\r\n A \r\n0123456789\r\n0\r\n\r\n")}),
       "abc0123456789"},
      {"chunked, trailers cut by close",
       ScriptedPeer::Answer(Ok("Transfer-Encoding: chunked\r\n", "2\r\nok\r\n0\r\nX-A: 1\r\n")),
       "ok"},
      {"100 continue skipped",
       ScriptedPeer::Answer("HTTP/1.1 100 Continue\r\n\r\n" + OkResponse("after")), "after"},
      {"head and body in many small pieces",
       {PeerStep::ReadRequest(), PeerStep::Send("HTTP/1.1 200"), PeerStep::Pause(30ms),
        PeerStep::Send(" OK\r\nContent-Le"), PeerStep::Pause(30ms), PeerStep::Send("ngth: 6\r\n\r"),
        PeerStep::Pause(30ms), PeerStep::Send("\nab"), PeerStep::Pause(30ms),
        PeerStep::Send("cdef"), PeerStep::Close()},
       "abcdef"},
      {"LF-only line ends", ScriptedPeer::Answer("HTTP/1.1 200 OK\nContent-Length: 2\n\nhi"), "hi"},
      {"the same content length twice",
       ScriptedPeer::Answer(Ok("Content-Length: 5\r\nContent-Length: 5, 5\r\n", "hello")), "hello"},
      {"status and header line of exactly the limit (CR included)",
       ScriptedPeer::Answer("HTTP/1.1 200 " + std::string(16384 - 14, 'K') + "\r\nX: " +
                            std::string(16384 - 4, 'v') + "\r\nContent-Length: 1\r\n\r\n!"),
       "!"},
      {"255 header lines",
       [] {
         std::string head = "HTTP/1.1 200 OK\r\n";
         for (int i = 0; i < 254; ++i)
           head += "X-H" + std::to_string(i) + ": v\r\n";
         return ScriptedPeer::Answer(head + "Content-Length: 2\r\n\r\nok");
       }(),
       "ok"},
      {"close while header lines are read", ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nX-A: 1\r\n"),
       ""},
  };
  for (const FramingCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({c.script});
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = Load(peer.Url("/p"));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.body, c.body);
    // No body that is complete waits for the read limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, kTestReadTimeout);
  }
}

TEST(HttpClientFramingTest, TrailersJoinTheResponseHeaders) {
  ScriptedPeer peer({ScriptedPeer::AnswerEach(
      {Ok("Transfer-Encoding: chunked\r\n", "1\r\nx\r\n0\r\nX-Checksum: 42\r\n\r\n")})});
  THttpClient client;
  std::string body;
  client.GetToStream(peer.Url("/"), body);
  EXPECT_EQ(body, "x");
  EXPECT_EQ(client.Response().headers.Value("x-checksum"), "42");
}

// --- encodings ----------------------------------------------------------------------------

TEST(HttpClientEncodingTest, GzipAndDeflateBodiesAreDecoded) {
  const std::string text = test::PageText(100000);
  const std::string gz = test::Gzip(text, {"", "page.html", "", false});
  std::string chunked;
  for (std::size_t at = 0; at < gz.size(); at += 1000) {
    const std::string piece = gz.substr(at, 1000);
    char size[16];
    std::snprintf(size, sizeof size, "%zx", piece.size());
    chunked += std::string(size) + "\r\n" + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  const std::vector<FramingCase> kCases = {
      {"gzip, content length", ScriptedPeer::Answer(OkResponse(gz, "Content-Encoding: gzip\r\n")),
       text},
      {"gzip, chunked",
       ScriptedPeer::Answer(
           Ok("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", chunked)),
       text},
      {"gzip, until close", ScriptedPeer::Answer(Ok("Content-Encoding: GZIP\r\n", gz)), text},
      {"deflate with zlib header",
       ScriptedPeer::Answer(OkResponse(test::ZlibCompress(text), "Content-Encoding: deflate\r\n")),
       text},
      {"raw deflate",
       ScriptedPeer::Answer(OkResponse(test::RawDeflate(text), "Content-Encoding: deflate\r\n")),
       text},
      {"other encoding passed on", ScriptedPeer::Answer(OkResponse(gz, "Content-Encoding: br\r\n")),
       gz},
  };
  for (const FramingCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({c.script});
    const Outcome outcome = Load(peer.Url("/p"));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.body, c.body);
  }
}

TEST(HttpClientEncodingTest, WithoutDecompressorTheBodyStaysEncoded) {
  const std::string gz = test::Gzip("plain");
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse(gz, "Content-Encoding: gzip\r\n"))});
  THttpClient client;
  std::string body;
  client.GetToStream(peer.Url("/"), body);
  EXPECT_EQ(body, gz);
  EXPECT_NE(peer.Requests().at(0).find("\r\nAccept-Encoding: identity\r\n"), std::string::npos);
}

// --- redirects and keep-alive -------------------------------------------------------------

std::string Redirect(const std::string& location,
                     const std::string& extra = "Content-Length: 0\r\n") {
  return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra + "\r\n";
}

TEST(HttpClientRedirectTest, RelativeLocationOnTheSameConnection) {
  ScriptedPeer peer({ScriptedPeer::AnswerEach(
      {Redirect("recommend_2.html", "Content-Length: 9\r\n") + "moved....",
       OkResponse("final page")})});
  const Outcome outcome = Load(peer.Url("/dance/sort/recommend_1.html"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "final page");
  ASSERT_EQ(peer.Requests().size(), 2u);
  EXPECT_TRUE(peer.Requests()[1].starts_with("GET /dance/sort/recommend_2.html HTTP/1.1\r\n"));
  EXPECT_EQ(peer.Accepted(), 1);
}

TEST(HttpClientRedirectTest, ConnectionIsReplacedWhenItMayNotBeReused) {
  struct Case {
    const char* name;
    std::vector<PeerScript> scripts;
  };
  const std::vector<Case> kCases = {
      {"Connection: close",
       {ScriptedPeer::AnswerEach({Redirect("/b", "Content-Length: 0\r\nConnection: close\r\n")}),
        ScriptedPeer::Answer(OkResponse("b"))}},
      {"redirect body read until close",
       {ScriptedPeer::Answer(Redirect("/b", "") + "old body"),
        ScriptedPeer::Answer(OkResponse("b"))}},
      {"peer closed the kept-alive connection",
       {{PeerStep::ReadRequest(), PeerStep::Send(Redirect("/b")), PeerStep::Close()},
        ScriptedPeer::Answer(OkResponse("b"))}},
      {"peer reset the kept-alive connection",
       {{PeerStep::ReadRequest(), PeerStep::Send(Redirect("/b")), PeerStep::Pause(50ms),
         PeerStep::Reset()},
        ScriptedPeer::Answer(OkResponse("b"))}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.scripts);
    const Outcome outcome = Load(peer.Url("/a"));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.body, "b");
    EXPECT_EQ(peer.Accepted(), 2);
    EXPECT_TRUE(peer.Requests().back().starts_with("GET /b HTTP/1.1\r\n"));
  }
}

// A redirect whose body comes after the client stopped waiting for it: those bytes must never be
// read as the head of the next response on the same connection.
TEST(HttpClientRedirectTest, ALateRedirectBodyIsNeverReadAsTheNextResponse) {
  const std::string forged = OkResponse("forged");
  ScriptedPeer peer({{PeerStep::ReadRequest(),
                      PeerStep::Send("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: " +
                                     std::to_string(forged.size()) + "\r\n\r\n"),
                      PeerStep::Pause(kRedirectBodyWait + 700ms), PeerStep::Send(forged),
                      PeerStep::ReadRequest(), PeerStep::Send(OkResponse("wrong"))},
                     ScriptedPeer::Answer(OkResponse("right"))});
  const Outcome outcome = Load(
      peer.Url("/a"), [](THttpClient& client) { client.SetReadTimeout(kRedirectBodyWait + 3s); });
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "right");
  EXPECT_EQ(peer.Accepted(), 2);
}

TEST(HttpClientRedirectTest, AbsoluteLocationToAnotherPeer) {
  ScriptedPeer target({ScriptedPeer::Answer(OkResponse("there"))});
  ScriptedPeer first({ScriptedPeer::AnswerEach({Redirect(target.Url("/x/y.html"))})});
  const Outcome outcome = Load(first.Url("/a"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "there");
  EXPECT_TRUE(target.Requests().at(0).starts_with(
      "GET /x/y.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(target.Port()) + "\r\n"));
}

TEST(HttpClientRedirectTest, FourteenRedirectsAreFollowedAndTheFifteenthFails) {
  std::vector<std::string> fourteen;
  for (int i = 1; i <= 14; ++i)
    fourteen.push_back(Redirect("/r" + std::to_string(i)));
  std::vector<std::string> followed = fourteen;
  followed.push_back(OkResponse("end"));
  ScriptedPeer peer({ScriptedPeer::AnswerEach(followed)});
  const Outcome outcome = Load(peer.Url("/r0"));
  EXPECT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.body, "end");

  std::vector<std::string> too_many = fourteen;
  too_many.push_back(Redirect("/r15"));
  ScriptedPeer peer2({ScriptedPeer::AnswerEach(too_many)});
  const Outcome failed = Load(peer2.Url("/r0"));
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, "Too many redirects.");
  EXPECT_EQ(failed.body, "");
  EXPECT_EQ(peer2.Requests().size(), 15u);
}

TEST(HttpClientRedirectTest, UnfollowedOrEmptyRedirectIsAProtocolError) {
  ScriptedPeer peer({ScriptedPeer::Answer(Redirect("/b", "Content-Length: 4\r\n") + "gone")});
  const Outcome unfollowed =
      Load(peer.Url("/a"), [](THttpClient& client) { client.SetHandleRedirects(false); });
  EXPECT_EQ(unfollowed.error, "HTTP/1.1 302 Found");
  EXPECT_EQ(unfollowed.code, 302);
  EXPECT_EQ(unfollowed.error_body, "gone");

  ScriptedPeer peer2({ScriptedPeer::Answer("HTTP/1.1 301 Moved\r\nContent-Length: 0\r\n\r\n")});
  EXPECT_EQ(Load(peer2.Url("/a")).error, "HTTP/1.1 301 Moved");
}

// --- cookies ------------------------------------------------------------------------------

TEST(HttpClientCookieTest, CookiesPassAlongTheRedirectChainOnly) {
  ScriptedPeer peer({ScriptedPeer::AnswerEach(
      {Redirect(
           "/dance/sort/b.html",
           "Set-Cookie: site=1; Path=/\r\nSet-Cookie: sort=2\r\nSet-Cookie: gone=3; Max-Age=0\r\n"
           "Set-Cookie: elsewhere=4; Domain=other.example\r\nSet-Cookie: deep=5; Path=/other\r\n"
           "Content-Length: 0\r\n"),
       Redirect("/dance/play/c.html", "Set-Cookie: site=6; Path=/\r\nContent-Length: 0\r\n"),
       OkResponse("done")})});
  const Outcome outcome = Load(peer.Url("/dance/sort/a.html"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const std::vector<std::string> requests = peer.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  EXPECT_TRUE(requests[1].ends_with("\r\nCookie: sort=2; site=1\r\n\r\n")) << requests[1];
  EXPECT_TRUE(requests[2].ends_with("\r\nCookie: site=6\r\n\r\n")) << requests[2];

  // A new client starts without cookies.
  ScriptedPeer again({ScriptedPeer::Answer(OkResponse("x"))});
  ASSERT_TRUE(Load(again.Url("/dance/sort/b.html")).ok);
  EXPECT_EQ(again.Requests().at(0).find("Cookie:"), std::string::npos);
}

TEST(HttpClientCookieTest, AHugeMaxAgeKeepsTheCookie) {
  // Seconds beyond what a nanosecond clock can add without overflowing.
  ScriptedPeer peer({ScriptedPeer::AnswerEach(
      {Redirect("/b",
                "Set-Cookie: long=1; Max-Age=9300000000\r\n"
                "Set-Cookie: longer=2; Max-Age=99999999999999999999\r\n"
                "Set-Cookie: far=3; Expires=Fri, 31 Dec 9999 23:59:59 GMT\r\n"
                "Content-Length: 0\r\n"),
       OkResponse("done")})});
  const Outcome outcome = Load(peer.Url("/a"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  ASSERT_EQ(peer.Requests().size(), 2u);
  EXPECT_TRUE(peer.Requests()[1].ends_with("\r\nCookie: long=1; longer=2; far=3\r\n\r\n"))
      << peer.Requests()[1];
}

// --- failures -----------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  PeerScript script;
  std::string error;
};

TEST(HttpClientFailureTest, FailuresCarryTheirMessages) {
  const std::vector<FailureCase> kCases = {
      {"404", ScriptedPeer::Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"),
       "HTTP/1.1 404 Not Found"},
      {"500 until close", ScriptedPeer::Answer("HTTP/1.1 500 Internal Server Error\r\n\r\nboom"),
       "HTTP/1.1 500 Internal Server Error"},
      {"304", ScriptedPeer::Answer("HTTP/1.1 304 Not Modified\r\n\r\n"),
       "HTTP/1.1 304 Not Modified"},
      {"401 without credentials",
       ScriptedPeer::Answer("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                            "Content-Length: 0\r\n\r\n"),
       "HTTP/1.1 401 Unauthorized"},
      {"407",
       ScriptedPeer::Answer(
           "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"),
       "HTTP/1.1 407 Proxy Authentication Required"},
      {"101", ScriptedPeer::Answer("HTTP/1.1 101 Switching Protocols\r\n\r\n"),
       "HTTP/1.1 101 Switching Protocols"},
      {"status that is not a number", ScriptedPeer::Answer("HTTP/1.1 abc\r\n\r\n"), "HTTP/1.1 abc"},
      {"close before the status line",
       {PeerStep::ReadRequest(), PeerStep::Close()},
       "Connection Closed Gracefully."},
      {"close inside the status line", ScriptedPeer::Answer("HTTP/1.1 20"),
       "Connection Closed Gracefully."},
      {"content length cut short",
       ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"),
       "Connection Closed Gracefully."},
      {"chunked cut short",
       ScriptedPeer::Answer(Ok("Transfer-Encoding: chunked\r\n", "a\r\n01234")),
       "Connection Closed Gracefully."},
      {"chunked without the last chunk",
       ScriptedPeer::Answer(Ok("Transfer-Encoding: chunked\r\n", "2\r\nok\r\n")),
       "Connection Closed Gracefully."},
      {"chunk size not hexadecimal",
       ScriptedPeer::Answer(Ok("Transfer-Encoding: chunked\r\n", "zz\r\nab\r\n0\r\n\r\n")),
       "Invalid chunk size."},
      {"empty chunk size",
       ScriptedPeer::Answer(Ok("Transfer-Encoding: chunked\r\n", "\r\nab\r\n0\r\n\r\n")),
       "Invalid chunk size."},
      {"status line above the limit",
       ScriptedPeer::Answer("HTTP/1.1 200 " + std::string(20000, 'K') + "\r\n\r\n"),
       "Max line length exceeded."},
      {"header line above the limit",
       ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nX: " + std::string(16382, 'v') + "\r\n\r\n"),
       "Max line length exceeded."},
      {"chunk line above the limit",
       ScriptedPeer::Answer(
           Ok("Transfer-Encoding: chunked\r\n", "1;" + std::string(20000, 'e') + "\r\n")),
       "Max line length exceeded."},
      {"256 header lines",
       [] {
         std::string head = "HTTP/1.1 200 OK\r\n";
         for (int i = 0; i < 256; ++i)
           head += "X-H" + std::to_string(i) + ": v\r\n";
         return ScriptedPeer::Answer(head + "\r\n");
       }(),
       "Too many header lines."},
      // A length the client cannot trust frames nothing: the page must not come back empty or
      // cut as a success.
      {"content length not a number", ScriptedPeer::Answer(Ok("Content-Length: abc\r\n", "hello")),
       "Invalid Content-Length."},
      {"negative content length", ScriptedPeer::Answer(Ok("Content-Length: -5\r\n", "hello")),
       "Invalid Content-Length."},
      {"two different content lengths",
       ScriptedPeer::Answer(Ok("Content-Length: 2\r\nContent-Length: 5\r\n", "hello")),
       "Invalid Content-Length."},
      {"two different values in one content length",
       ScriptedPeer::Answer(Ok("Content-Length: 5, 2\r\n", "hello")), "Invalid Content-Length."},
      {"content length above the limit",
       {PeerStep::ReadRequest(),
        PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nabc"),
        PeerStep::Stall()},
       "Response too large"},
      {"gzip bomb",
       ScriptedPeer::Answer(
           OkResponse(test::Gzip(std::string((64u << 20) + 1, 'a')), "Content-Encoding: gzip\r\n")),
       "Response too large"},
      {"damaged gzip",
       ScriptedPeer::Answer(
           OkResponse(std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03\xff\xff\xff", 13) + "12345678",
                      "Content-Encoding: gzip\r\n")),
       "ZLib Error (-3)"},
      {"silent peer", {PeerStep::ReadRequest(), PeerStep::Stall()}, "Read timed out."},
      {"peer stalls inside the body",
       {PeerStep::ReadRequest(), PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab"),
        PeerStep::Stall()},
       "Read timed out."},
      {"peer resets",
       {PeerStep::ReadRequest(), PeerStep::Send("HTTP/1.1 200 OK\r\n\r\npartial"),
        PeerStep::Pause(50ms), PeerStep::Reset()},
       "Socket Error # 104\r\nConnection reset by peer"},
  };
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({c.script});
    const Outcome outcome = Load(peer.Url("/p"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(outcome.body, "");  // nothing of a failed body is left in the stream
  }
}

TEST(HttpClientFailureTest, ProtocolErrorCarriesCodeAndDecodedBody) {
  ScriptedPeer peer(
      {ScriptedPeer::Answer(OkResponse(test::Gzip("not here"), "Content-Encoding: gzip\r\n")
                                .replace(9, 6, "404 Not Found"))});
  const Outcome outcome = Load(peer.Url("/missing"));
  EXPECT_EQ(outcome.error, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(outcome.code, 404);
  EXPECT_EQ(outcome.error_body, "not here");
}

TEST(HttpClientFailureTest, StatusLineWinsOverABrokenErrorPage) {
  ScriptedPeer peer(
      {ScriptedPeer::Answer("HTTP/1.1 503 Service Unavailable\r\nContent-Encoding: "
                            "gzip\r\nContent-Length: 50\r\n\r\nbroken")});
  const Outcome outcome = Load(peer.Url("/"));
  EXPECT_EQ(outcome.error, "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(outcome.code, 503);
}

TEST(HttpClientFailureTest, AddressFailures) {
  int closed_port = 0;
  {
    ScriptedPeer gone({});
    closed_port = gone.Port();
  }
  const std::string refused = "http://127.0.0.1:" + std::to_string(closed_port) + "/";
  EXPECT_EQ(Load(refused).error, "Socket Error # 111\r\nConnection refused");
  EXPECT_EQ(Load("page.html").error, "Unknown Protocol");
  EXPECT_EQ(Load("ftp://127.0.0.1/").error, "Unknown Protocol");
  THttpClient client;
  std::string body;
  EXPECT_THROW(client.GetToStream("http:///x", body), EHostRequired);
}

// A peer that keeps every read inside the read limit but never finishes: the load limit ends
// the load, wherever it falls (head, body, or the hop after a redirect), with nothing kept.
TEST(HttpClientFailureTest, ATrickleIsCutByTheLoadLimit) {
  const auto trickle = [](const std::string& bytes) {
    std::vector<PeerStep> steps;
    for (char byte : bytes) {
      steps.push_back(PeerStep::Send(std::string(1, byte)));
      steps.push_back(PeerStep::Pause(50ms));
    }
    return steps;
  };
  const auto script = [&](const std::string& answer_start, const std::string& trickled) {
    PeerScript steps = {PeerStep::ReadRequest(), PeerStep::Send(answer_start)};
    for (PeerStep& step : trickle(trickled))
      steps.push_back(std::move(step));
    steps.push_back(PeerStep::Stall());
    return steps;
  };
  const std::string body(400, 'b');
  struct TrickleCase {
    const char* name;
    std::vector<PeerScript> scripts;
  };
  const std::vector<TrickleCase> kCases = {
      {"in the head",
       {script("", "HTTP/1.1 200 OK\r\nX-Slow: " + std::string(300, 's') + "\r\n\r\n")}},
      {"in the body", {script("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n", body)}},
      {"after a redirect",
       {{PeerStep::ReadRequest(), PeerStep::Pause(300ms),
         PeerStep::Send("HTTP/1.1 302 Found\r\nLocation: /next\r\nConnection: close\r\n"
                        "Content-Length: 0\r\n\r\n")},
        script("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n", body)}},
  };
  for (const TrickleCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.scripts);
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = Load(peer.Url("/p"), [](THttpClient& client) {
      client.SetReadTimeout(10s);
      client.SetLoadTimeout(1s);
    });
    EXPECT_EQ(outcome.error, "Load timed out.");
    EXPECT_EQ(outcome.body, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  }
}

TEST(HttpClientFailureTest, ConnectGivesUpAtItsLimit) {
  const test::SilentListener silent;
  const std::string url = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/";
  const auto started = std::chrono::steady_clock::now();
  const Outcome outcome = Load(url, [](THttpClient& client) { client.SetConnectTimeout(500ms); });
  EXPECT_EQ(outcome.error, "Connect timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  // A load limit shorter than the connect limit ends the connect too.
  const Outcome load_limited = Load(url, [](THttpClient& client) {
    client.SetConnectTimeout(60s);
    client.SetLoadTimeout(500ms);
  });
  EXPECT_EQ(load_limited.error, "Load timed out.");
}

TEST(HttpClientFailureTest, ConnectionIsClosedAfterAFailedLoad) {
  ScriptedPeer peer({{PeerStep::ReadRequest(),
                      PeerStep::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")}});
  THttpClient client;
  std::string body;
  EXPECT_THROW(client.GetToStream(peer.Url("/"), body), EHttpProtocolError);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.WaitUntilDone(10s));  // the peer saw the close
}

}  // namespace
}  // namespace djkivo::net
