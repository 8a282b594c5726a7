#include "demo/http_server.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/event.h"
#include "demo/demo_site.h"
#include "demo/faults.h"
#include "tests/support/compressed.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wire_client.h"

namespace djkivo::demo {
namespace {

using namespace std::chrono_literals;
using test::Get;
using test::TestConnection;
using test::WireResponse;

constexpr char kPage[] = "/dance/sort/chinese_1.html";

TEST(FaultsTest, ParsesSwitchListsOnTopOfABase) {
  Faults base;
  base.gzip = true;
  Faults faults =
      ParseFaults("chunked,relative,redirect=3,slow=500,stall=4@100,truncate=9,reset=7,404", base);
  EXPECT_TRUE(faults.gzip && faults.chunked && faults.not_found && faults.relative_redirects);
  EXPECT_EQ(faults.redirects, 3);
  EXPECT_EQ(faults.bytes_per_second, 500);
  EXPECT_EQ(faults.stall_seconds, 4);
  EXPECT_EQ(faults.stall_at, 100);
  EXPECT_EQ(faults.truncate_at, 9);
  EXPECT_EQ(faults.reset_at, 7);
  EXPECT_EQ(ParseFaults("reset").reset_at, 0);
  EXPECT_EQ(ParseFaults("stall=2").stall_at, -1);
  EXPECT_EQ(ParseFaults("redirect=0", faults).redirects, 0);
  EXPECT_EQ(ParseFaults(""), Faults{});
  for (const char* bad : {"gzip=1", "redirect", "redirect=-1", "redirect=51", "stall=x",
                          "slow=", "truncate=1k", "stall=3601", "bogus", "relative=1"})
    EXPECT_THROW(ParseFaults(bad), std::invalid_argument) << bad;
}

class ServedSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSiteOptions options;
    options.cache_folder = cache_.Path().string();
    options.song_length = SongLength::kShort;
    site_ = std::make_unique<DemoSite>(options);
    site_->Start();
    plain_ = Get(site_->Port(), kPage).body;
    ASSERT_GT(plain_.size(), 10000u);
  }
  std::uint16_t port() const { return site_->Port(); }

  test::TempFolder cache_;
  std::unique_ptr<DemoSite> site_;
  std::string plain_;
};

TEST_F(ServedSiteTest, GzipAndChunkedCarryTheSameBody) {
  WireResponse gzip =
      Get(port(), std::string("/_f/gzip") + kPage, "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(gzip.headers["content-encoding"], "gzip");
  EXPECT_LT(gzip.body.size(), plain_.size());
  EXPECT_EQ(test::Gunzip(gzip.body), plain_);
  // A client that does not accept gzip is answered plainly.
  WireResponse unasked = Get(port(), std::string("/_f/gzip") + kPage);
  EXPECT_EQ(unasked.headers.count("content-encoding"), 0u);
  EXPECT_EQ(unasked.body, plain_);

  WireResponse chunked = Get(port(), std::string("/_f/chunked") + kPage);
  EXPECT_EQ(chunked.headers["transfer-encoding"], "chunked");
  EXPECT_EQ(chunked.headers.count("content-length"), 0u);
  EXPECT_TRUE(chunked.complete);
  EXPECT_EQ(chunked.body, plain_);

  WireResponse both =
      Get(port(), std::string("/_f/chunked,gzip") + kPage, "Accept-Encoding: gzip\r\n");
  EXPECT_TRUE(both.complete);
  EXPECT_EQ(test::Gunzip(both.body), plain_);
}

TEST_F(ServedSiteTest, RedirectHopsCountDownToTheResource) {
  std::string target = std::string("/_f/chunked,redirect=3") + kPage;
  for (int hop = 3; hop > 0; --hop) {
    WireResponse response = Get(port(), target);
    ASSERT_EQ(response.status, 302);
    std::string location = response.headers["location"];
    std::string expected =
        site_->BaseAddress() + "/_f/chunked,redirect=" + std::to_string(hop - 1) + kPage;
    ASSERT_EQ(location, expected);
    target = location.substr(site_->BaseAddress().size());
  }
  EXPECT_EQ(Get(port(), target).body, plain_);
  WireResponse relative = Get(port(), std::string("/_f/redirect=2,relative") + kPage);
  EXPECT_EQ(relative.headers["location"], std::string("/_f/relative,redirect=1") + kPage);

  // A start-up redirect applies to requests without a prefix; the hops end with redirect=0.
  Faults faults;
  faults.redirects = 1;
  site_->SetPageFaults(faults);
  WireResponse first = Get(port(), kPage);
  ASSERT_EQ(first.status, 302);
  EXPECT_EQ(first.headers["location"], site_->BaseAddress() + "/_f/redirect=0" + kPage);
  EXPECT_EQ(Get(port(), std::string("/_f/redirect=0") + kPage).body, plain_);
}

TEST_F(ServedSiteTest, NotFoundAndBadSwitches) {
  EXPECT_EQ(Get(port(), std::string("/_f/404") + kPage).status, 404);
  EXPECT_EQ(Get(port(), std::string("/_f/nonsense") + kPage).status, 400);
  EXPECT_EQ(Get(port(), "/_f/gzip").status, 200);  // the home page under a prefix
}

TEST_F(ServedSiteTest, TruncateEndsTheBodyEarlyWithAClose) {
  TestConnection connection(port());
  connection.SendGet(std::string("/_f/truncate=5000") + kPage);
  auto response = connection.Read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->headers["content-length"], std::to_string(plain_.size()));
  EXPECT_FALSE(response->complete);
  EXPECT_EQ(response->body, plain_.substr(0, 5000));
  EXPECT_TRUE(connection.ClosedWithin(10s));
  EXPECT_FALSE(connection.reset());
}

TEST_F(ServedSiteTest, ResetBeforeOrDuringTheBody) {
  {
    TestConnection connection(port());
    connection.SendGet(std::string("/_f/reset") + kPage);
    EXPECT_FALSE(connection.Read());
    EXPECT_TRUE(connection.reset());
    EXPECT_TRUE(connection.buffered().empty());
  }
  TestConnection connection(port());
  connection.SendGet(std::string("/_f/reset=3000") + kPage);
  auto response = connection.Read();
  ASSERT_TRUE(response);
  EXPECT_FALSE(response->complete);
  EXPECT_LE(response->body.size(), 3000u);
  EXPECT_TRUE(connection.reset());

  // A reset point past the end of the body never comes: the answer is whole, the connection kept.
  TestConnection beyond(port());
  beyond.SendGet(std::string("/_f/reset=9999999") + kPage);
  auto whole = beyond.Read();
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->body, plain_);
  beyond.SendGet("/djKivodata/ver.txt");
  auto next = beyond.Read();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->body, "1");
}

TEST_F(ServedSiteTest, StallHoldsTheAnswerBackThenSendsIt) {
  TestConnection before(port());
  before.SendGet(std::string("/_f/stall=2") + kPage);
  EXPECT_FALSE(before.Fill(500ms));  // nothing in the first half second of a two-second stall
  auto whole = before.Read(20s);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->body, plain_);

  TestConnection during(port());
  during.SendGet(std::string("/_f/stall=2@4000") + kPage);
  auto body_bytes = [&] {
    std::size_t end = during.buffered().find("\r\n\r\n");
    return end == std::string::npos ? 0 : during.buffered().size() - end - 4;
  };
  while (body_bytes() < 4000 && during.Fill(20s)) {
  }
  EXPECT_EQ(body_bytes(), 4000u);
  EXPECT_FALSE(during.Fill(500ms));  // the stall began after 4000 bytes
  std::size_t body_start = during.buffered().find("\r\n\r\n") + 4;
  while (during.buffered().size() - body_start < plain_.size() && during.Fill(20s)) {
  }
  EXPECT_EQ(during.buffered().substr(body_start), plain_);
}

TEST_F(ServedSiteTest, SlowTrickleStillDeliversEverything) {
  WireResponse response = Get(port(), "/_f/slow=20000,chunked/djKivodata/ver.txt");
  EXPECT_EQ(response.body, "1");
  TestConnection connection(port());
  connection.SendGet(std::string("/_f/slow=100000") + kPage);
  auto slow = connection.Read(30s);
  ASSERT_TRUE(slow);
  EXPECT_TRUE(slow->complete);
  EXPECT_EQ(slow->body, plain_);
}

TEST_F(ServedSiteTest, KeepAliveServesSeveralAndPipelinedRequestsOnOneConnection) {
  TestConnection connection(port());
  for (int i = 0; i < 3; ++i) {
    connection.SendGet("/djKivodata/ver.txt");
    auto response = connection.Read();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->headers["connection"], "keep-alive");
    EXPECT_EQ(response->body, "1");
  }
  connection.Send("GET /djKivodata/ver.txt HTTP/1.1\r\nHost: x\r\n\r\nGET " + std::string(kPage) +
                  " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  auto first = connection.Read();
  auto second = connection.Read();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, "1");
  EXPECT_EQ(second->headers["connection"], "close");
  EXPECT_EQ(second->body.size(), plain_.size());
  EXPECT_TRUE(connection.ClosedWithin(10s));
  EXPECT_EQ(site_->RequestCount("/djKivodata/ver.txt"), 4);  // counted before the next two

  TestConnection absolute(port());
  absolute.Send("GET http://127.0.0.1:1/djKivodata/ver.txt HTTP/1.1\r\nHost: x\r\n\r\n");
  auto proxied = absolute.Read();
  ASSERT_TRUE(proxied);
  EXPECT_EQ(proxied->body, "1");

  TestConnection old(port());
  old.Send("GET /djKivodata/ver.txt HTTP/1.0\r\n\r\n");
  auto response = old.Read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->headers["connection"], "close");
  EXPECT_TRUE(old.ClosedWithin(10s));
}

TEST_F(ServedSiteTest, MalformedRequestsGetAnErrorAndAClose) {
  const char* requests[] = {"NONSENSE\r\n\r\n", "GET nopath HTTP/1.1\r\n\r\n",
                            "GET / HTTP/2.0\r\n\r\n", "GET / HTTP/1.1\r\nno colon\r\n\r\n"};
  for (const char* request : requests) {
    TestConnection connection(port());
    connection.Send(request);
    auto response = connection.Read();
    ASSERT_TRUE(response) << request;
    EXPECT_EQ(response->status, 400) << request;
    EXPECT_TRUE(connection.ClosedWithin(10s));
  }
  TestConnection post(port());
  post.Send("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET / HTTP/1.1\r\n\r\n");
  auto refused = post.Read();
  auto next = post.Read();
  ASSERT_TRUE(refused && next);
  EXPECT_EQ(refused->status, 405);
  EXPECT_EQ(next->status, 200);
  TestConnection huge(port());
  huge.Send("GET / HTTP/1.1\r\nX: " + std::string(70000, 'a'));
  auto too_large = huge.Read();
  ASSERT_TRUE(too_large);
  EXPECT_EQ(too_large->status, 431);
}

TEST_F(ServedSiteTest, RangeRequestsOnStreams) {
  const DemoSong& song = site_->Catalogue().Songs()[0];
  std::string path = "/audio/" + song.id + ".mp3";
  WireResponse whole = Get(port(), path);
  ASSERT_EQ(whole.status, 200);
  EXPECT_EQ(whole.headers["accept-ranges"], "bytes");
  EXPECT_EQ(whole.headers["content-type"], "audio/mpeg");
  const std::size_t size = whole.body.size();
  ASSERT_GT(size, 4000u);
  struct Case {
    std::string range;
    int status;
    std::size_t first, length;
  };
  const Case cases[] = {
      {"bytes=100-199", 206, 100, 100},
      {"bytes=1000-", 206, 1000, size - 1000},
      {"bytes=-500", 206, size - 500, 500},
      {"bytes=0-", 206, 0, size},
      {"bytes=10-99999999", 206, 10, size - 10},
      {"bytes=" + std::to_string(size) + "-", 416, 0, 0},
      {"bytes=5-3", 200, 0, size},      // invalid: ignored
      {"bytes=0-1,5-9", 200, 0, size},  // several ranges: the whole body
      {"items=0-1", 200, 0, size},
  };
  for (const Case& c : cases) {
    WireResponse response = Get(port(), path, "Range: " + c.range + "\r\n");
    EXPECT_EQ(response.status, c.status) << c.range;
    EXPECT_EQ(response.body, whole.body.substr(c.first, c.length)) << c.range;
    if (c.status == 206) {
      EXPECT_EQ(response.headers["content-range"], "bytes " + std::to_string(c.first) + "-" +
                                                       std::to_string(c.first + c.length - 1) +
                                                       "/" + std::to_string(size));
    } else if (c.status == 416) {
      EXPECT_EQ(response.headers["content-range"], "bytes */" + std::to_string(size));
    }
  }
  // Resuming after a cut: the truncated start and the ranged rest make the whole file.
  TestConnection cut(port());
  cut.SendGet("/_f/truncate=3000" + path);
  auto head = cut.Read();
  ASSERT_TRUE(head);
  WireResponse rest =
      Get(port(), path, "Range: bytes=" + std::to_string(head->body.size()) + "-\r\n");
  EXPECT_EQ(head->body + rest.body, whole.body);
  EXPECT_EQ(Get(port(), "/audio/1.mp3").status, 404);
  EXPECT_EQ(Get(port(), "/audio/" + song.id + ".ogg").status, 404);
}

TEST_F(ServedSiteTest, StreamFaultsApplyToStreamsOnly) {
  Faults faults;
  faults.truncate_at = 100;
  site_->SetStreamFaults(faults);
  EXPECT_EQ(Get(port(), kPage).body, plain_);
  TestConnection connection(port());
  connection.SendGet("/audio/" + site_->Catalogue().Songs()[1].id + ".wma");
  auto response = connection.Read();
  ASSERT_TRUE(response);
  EXPECT_FALSE(response->complete);
  EXPECT_EQ(response->body.size(), 100u);
}

TEST(HttpServerTest, StopEndsStalledClientsAndStalledAnswersPromptly) {
  Event handler_entered(true);
  HttpServer server([&](const HttpRequest& request) {
    HttpResponse response;
    response.body = "body";
    if (request.target == "/stall")
      response.faults.stall_seconds = 3600;
    if (request.target == "/wait") {
      handler_entered.Set();
      server.WaitForStop(std::chrono::hours(1));
    }
    return response;
  });
  server.Start(0);
  ASSERT_NE(server.Port(), 0);
  TestConnection idle(server.Port());  // connected, sends nothing
  TestConnection half(server.Port());
  half.Send("GET / HTTP/1.1\r\nHost:");  // half a head
  TestConnection stalled(server.Port());
  stalled.SendGet("/stall");  // an answer stalled for an hour
  TestConnection waiting(server.Port());
  waiting.SendGet("/wait");  // a handler waiting for the stop
  ASSERT_TRUE(handler_entered.WaitFor(10s));
  auto started = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  for (TestConnection* connection : {&idle, &half, &stalled, &waiting})
    EXPECT_TRUE(connection->ClosedWithin(10s));
  server.Stop();  // idempotent
}

TEST(HttpServerTest, HandlerExceptionsBecomeServerErrors) {
  HttpServer server([](const HttpRequest&) -> HttpResponse { throw std::runtime_error("broken"); });
  server.Start(0);
  WireResponse response = Get(server.Port(), "/");
  EXPECT_EQ(response.status, 500);
  EXPECT_EQ(response.body, "broken");
}

}  // namespace
}  // namespace djkivo::demo
