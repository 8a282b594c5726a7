// The site against the player's own HTTP client and pattern matcher: every category's first
// page, under every framing switch, scrapes to the catalogue's rows.
#include <gtest/gtest.h>

#include "demo/demo_site.h"
#include "net/http_client.h"
#include "pattern/matcher.h"
#include "tests/support/scrape_pages.h"
#include "tests/support/temp_folder.h"

namespace djkivo::demo {
namespace {

const char kBlock[] = R"P((?i)<div class="wq_4v">(.+?)</div>)P";
const char kRow[] =
    R"P((?i)<ul><li class="wq_2"><input type="checkbox"  class="checkbox" name="check" value=(\d+) /> <a href=/dance/play/\d+.html onClick=.+?>(.+?)</a>.+?<li class="wq_8"><a href=".+?" target=_blank>(.+?)</a></li>.+?</ul>)P";

std::string Load(const std::string& url) {
  net::THttpClient client;
  net::THttpDecompressor decompressor;
  client.SetHandleRedirects(true);
  client.SetCompressor(&decompressor);
  client.Request().accept_encoding = "gzip, deflate";
  std::string body;
  client.GetToStream(url, body);
  client.Disconnect();
  return body;
}

// id TAB name TAB uploader per row, as the category scraper cuts them.
std::string Scrape(std::string page) {
  for (char& c : page)
    if (c == '\'')
      c = '"';
  pattern::TPatternMatcher matcher;
  matcher.SetExpression(kBlock);
  if (!matcher.Exec(page))
    return "no block";
  std::string block = matcher.GroupText(1);
  matcher.SetExpression(kRow);
  std::string rows;
  for (bool found = matcher.Exec(block); found; found = matcher.ExecNext())
    rows += matcher.GroupText(1) + "\t" + matcher.GroupText(2) + "\t" + matcher.GroupText(3) + "\n";
  return rows;
}

TEST(ProjectClientTest, EveryCategoryScrapesToItsRowsUnderEveryFramingSwitch) {
  test::TempFolder cache;
  DemoSiteOptions options;
  options.cache_folder = cache.Path().string();
  DemoSite site(options);
  site.Start();
  for (const char* prefix : {"", "/_f/gzip", "/_f/chunked", "/_f/gzip,chunked", "/_f/redirect=3",
                             "/_f/relative,redirect=2,gzip", "/_f/slow=400000"}) {
    for (const DemoCategory& category : DemoCatalogue::Categories()) {
      std::string expected;
      for (const DemoSong* song : site.Catalogue().CategoryPage(category, 1))
        expected += song->id + "\t" + test::ReplaceApostrophes(song->listed_name) + "\t" +
                    test::ReplaceApostrophes(song->uploader) + "\n";
      std::string url =
          site.BaseAddress() + prefix + "/dance/sort/" + std::string(category.slug) + "_1.html";
      EXPECT_EQ(Scrape(Load(url)), expected) << url;
    }
  }
}

}  // namespace
}  // namespace djkivo::demo
