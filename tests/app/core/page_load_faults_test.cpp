// Page loads against a misbehaving site: the demo site's fault switches, a site that goes away,
// and bodies no demo page has (a gzip stream cut where only the close ends the body, a 10 MB
// list page). A load either returns the exact page or fails with the text untouched, and it
// always ends within its bound.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"
#include "demo/demo_site.h"
#include "net/http_client.h"
#include "net/http_decoders.h"
#include "net/http_errors.h"
#include "tests/support/compressed.h"
#include "tests/support/scrape_pages.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;

constexpr char kListPath[] = "/dance/sort/remix_1.html";
constexpr char kUntouched[] = "untouched";

class PageLoadFaultsTest : public ::testing::Test {
 protected:
  PageLoadFaultsTest() : site_(Options(cache_)) { site_.Start(); }

  static demo::DemoSiteOptions Options(const test::TempFolder& cache) {
    demo::DemoSiteOptions options;
    options.cache_folder = cache.Path().string();
    return options;
  }

  std::string Address(const std::string& faults, const std::string& path = kListPath) const {
    return site_.BaseAddress() + (faults.empty() ? "" : "/_f/" + faults) + path;
  }

  test::TempFolder cache_;
  demo::DemoSite site_;
};

// Every switch that spoils the body fails the load; the ones that only slow or reshape it give
// the page byte for byte.
TEST_F(PageLoadFaultsTest, ALoadGivesThePageWholeOrFailsWithTheTextUntouched) {
  std::string page;
  ASSERT_TRUE(FetchPage(Address(""), page));
  ASSERT_EQ(ScrapeCategoryPage(page).size(), 30u);
  struct Case {
    const char* faults;
    bool loads;
  };
  const std::vector<Case> kCases = {
      {"gzip", true},
      {"gzip,chunked", true},
      {"redirect=3,relative", true},
      {"slow=40000", true},
      {"reset", false},
      {"reset=2000", false},
      {"truncate=2000", false},
      {"chunked,truncate=2000", false},
      {"gzip,truncate=300", false},
      {"gzip,chunked,truncate=300", false},
      {"404", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.faults);
    std::string text = kUntouched;
    EXPECT_EQ(FetchPage(Address(c.faults), text), c.loads);
    EXPECT_EQ(text, c.loads ? page : kUntouched);
  }
}

// A site that sends nothing, before the head or inside the body, fails the load with the read
// limit; one that trickles a byte a second never trips it, and the whole-load limit ends the
// load. Nothing of the body is kept. The page loads' own limits are 60 s and 120 s; the same
// client code path is driven here with short ones.
TEST_F(PageLoadFaultsTest, AStalledOrTrickledSiteEndsTheLoadAtItsLimit) {
  struct LimitCase {
    std::string faults;
    bool load_limit;  // the whole-load limit is short, else the read limit
    const char* error;
  };
  const std::vector<LimitCase> kCases = {
      {"stall=3600", false, "Read timed out."},
      {"stall=3600@200", false, "Read timed out."},
      {"gzip,stall=3600@100", false, "Read timed out."},
      {"slow=1", true, "Load timed out."},
      {"gzip,slow=1", true, "Load timed out."},
  };
  for (const LimitCase& c : kCases) {
    SCOPED_TRACE(c.faults);
    net::THttpClient client;
    net::THttpDecompressor decompressor;
    ConfigurePageClient(client, decompressor);
    if (c.load_limit)
      client.SetLoadTimeout(1500ms);
    else
      client.SetReadTimeout(300ms);
    std::string body;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    try {
      client.GetToStream(Address(c.faults), body);
    } catch (const net::EHttpClientError& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_EQ(body, "");
  }
}

// The site goes away while a load waits inside the body (with the page loads' full read limit):
// the load fails as soon as the connection ends, and later loads fail at once.
TEST_F(PageLoadFaultsTest, ASiteThatDiesEndsTheLoad) {
  const std::string stalled = Address("stall=3600@200");
  auto load = std::async(std::launch::async, [&] {
    std::string text = kUntouched;
    const bool ok = FetchPage(stalled, text);
    return ok ? text : "failed:" + text;
  });
  const std::string path = "/_f/stall=3600@200" + std::string(kListPath);
  for (int i = 0; i < 2000 && site_.RequestCount(path) == 0; ++i)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(site_.RequestCount(path), 1);
  const std::string address = Address("");
  site_.Stop();
  ASSERT_EQ(load.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(load.get(), std::string("failed:") + kUntouched);
  std::string text = kUntouched;
  EXPECT_FALSE(FetchPage(address, text));
  EXPECT_EQ(text, kUntouched);
}

// Without a length or chunks only the close ends a body, so a compressed stream cut short is
// the only sign of a lost tail: it must fail the load, not give a shortened page. (A gzip
// trailer is not checked, so only cuts inside the header or the deflate data count.)
TEST(PageLoadCutStreamTest, ACompressedBodyCutBeforeItsEndFailsTheLoad) {
  const std::string text = test::PageText(20000);
  const std::string gzip = test::Gzip(text);
  const std::string deflate = test::ZlibCompress(text);
  struct Case {
    const char* name;
    std::string response;
  };
  const std::vector<Case> kCases = {
      {"gzip cut inside its header",
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzip.substr(0, 6)},
      {"gzip cut a byte before the end of its data",
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzip.substr(0, gzip.size() - 9)},
      {"gzip cut in the middle",
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzip.substr(0, gzip.size() / 2)},
      {"deflate cut in the middle", "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n\r\n" +
                                        deflate.substr(0, deflate.size() / 2)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({ScriptedPeer::Answer(c.response)});
    std::string result = kUntouched;
    EXPECT_FALSE(FetchPage(peer.Url("/p"), result));
    EXPECT_EQ(result, kUntouched);
  }
}

// A list page of 10 MB (rows padded with filler cells) loads whole, compressed or not, and the
// scraper finds every row.
TEST(PageLoadLargePageTest, ATenMegabytePageLoadsAndScrapesWhole) {
  std::vector<test::PageRow> rows;
  const std::string page = test::MakeListPage(
      {.rows = 300, .row_bytes = 35000, .upper_case = false, .broken = false, .seed = 1}, &rows);
  ASSERT_GT(page.size(), 10'000'000u);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: ";
  const std::string gzip = test::Gzip(page);
  ScriptedPeer peer(
      {ScriptedPeer::Answer(head + std::to_string(page.size()) + "\r\n\r\n" + page),
       ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzip)});
  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    std::string text;
    ASSERT_TRUE(FetchPage(peer.Url("/big.html"), text));
    ASSERT_TRUE(text == page);
    const std::vector<SongEntry> songs = ScrapeCategoryPage(text);
    ASSERT_EQ(songs.size(), rows.size());
    EXPECT_EQ(songs.back().id, rows.back().id);
  }
}

}  // namespace
}  // namespace djkivo::app
