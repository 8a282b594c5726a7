#include "demo/demo_site.h"

#include <gtest/gtest.h>

#include <set>

#include "base/ascii.h"
#include "base/gbk_text.h"
#include "base/query_value.h"
#include "demo/pages.h"
#include "tests/support/pcre2_scraper.h"
#include "tests/support/scrape_pages.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wire_client.h"

namespace djkivo::demo {
namespace {

using test::Get;
using test::kCategoryBlockPattern;
using test::kCategoryRowPattern;
using test::kPlayPagePattern;
using test::kSearchBlockPattern;
using test::kSearchRowPattern;
using test::kTagStripPattern;
using test::Pcre2MatchAll;
using test::ReplaceApostrophes;
using test::TempFolder;

struct Row {
  std::string id, name, uploader;
  bool operator==(const Row&) const = default;
};

std::string StripTags(const std::string& text) {
  std::string out;
  std::size_t done = 0;
  for (const auto& match : Pcre2MatchAll(kTagStripPattern, text)) {
    std::size_t at = text.find(match[0], done);
    out += text.substr(done, at - done);
    done = at + match[0].size();
  }
  return out + text.substr(done);
}

// Rows as the category scraper takes them; nullopt when the page has no list block.
std::optional<std::vector<Row>> ScrapeCategory(const std::string& body) {
  std::string page = ReplaceApostrophes(body);
  auto blocks = Pcre2MatchAll(kCategoryBlockPattern, page);
  if (blocks.empty())
    return std::nullopt;
  std::vector<Row> rows;
  for (const auto& match : Pcre2MatchAll(kCategoryRowPattern, blocks[0][1]))
    rows.push_back({match[1], match[2], match[3]});
  return rows;
}

std::optional<std::vector<Row>> ScrapeSearch(const std::string& body,
                                             std::vector<std::string>* raw_names = nullptr) {
  std::string page = ReplaceApostrophes(body);
  auto blocks = Pcre2MatchAll(kSearchBlockPattern, page);
  if (blocks.empty())
    return std::nullopt;
  std::vector<Row> rows;
  for (const auto& match : Pcre2MatchAll(kSearchRowPattern, blocks[0][1])) {
    if (raw_names)
      raw_names->push_back(match[2]);
    rows.push_back(
        {match[1], std::string(Trimmed(StripTags(match[2]))), std::string(Trimmed(match[3]))});
  }
  return rows;
}

class DemoSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSiteOptions options;
    options.cache_folder = cache_.Path().string();
    options.version_body = "2";
    options.song_length = SongLength::kShort;
    site_ = std::make_unique<DemoSite>(options);
    site_->Start();
  }

  TempFolder cache_;
  std::unique_ptr<DemoSite> site_;
};

TEST_F(DemoSiteTest, EveryCategoryPageHoldsItsThirtyRowsAsTheScraperCutsThem) {
  std::set<std::string> seen_ids;
  bool saw_apostrophe = false, saw_tag = false, saw_chinese = false;
  for (const DemoCategory& category : DemoCatalogue::Categories()) {
    for (int page = 1; page <= kCategoryPages + 1; ++page) {
      std::string path =
          "/dance/sort/" + std::string(category.slug) + "_" + std::to_string(page) + ".html";
      test::WireResponse response = Get(site_->Port(), path);
      ASSERT_EQ(response.status, 200) << path;
      auto rows = ScrapeCategory(response.body);
      ASSERT_TRUE(rows.has_value()) << path;
      std::vector<Row> expected;
      for (const DemoSong* song : site_->Catalogue().CategoryPage(category, page)) {
        expected.push_back(
            {song->id, ReplaceApostrophes(song->listed_name), ReplaceApostrophes(song->uploader)});
        saw_apostrophe |= song->listed_name.find('\'') != std::string::npos;
        saw_tag |= song->listed_name.find("<FONT") != std::string::npos;
        saw_chinese |= static_cast<unsigned char>(song->name[0]) >= 0x81;
        seen_ids.insert(song->id);
      }
      EXPECT_EQ(*rows, expected) << path;
      EXPECT_EQ(rows->size(), page <= kCategoryPages ? 30u : 0u) << path;
    }
  }
  EXPECT_TRUE(saw_apostrophe && saw_tag && saw_chinese);
  EXPECT_GT(seen_ids.size(), 200u);
}

TEST_F(DemoSiteTest, CategoryPagesMixUpperCaseMarkupAndApostropheQuotes) {
  std::string body = Get(site_->Port(), "/dance/sort/Kushiyaki_1.html").body;
  EXPECT_NE(body.find("<UL><LI CLASS=\"WQ_2\">"), std::string::npos);
  EXPECT_NE(body.find("<a href='/user/"), std::string::npos);
  // Without the quote replacement the apostrophe rows do not match: the scraper relies on it.
  auto blocks = Pcre2MatchAll(kCategoryBlockPattern, body);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_LT(Pcre2MatchAll(kCategoryRowPattern, blocks[0][1]).size(), 30u);
  // The near-miss block before the list is not taken for it.
  EXPECT_NE(body.find("<div class=\"wq_4\">"), std::string::npos);
}

TEST_F(DemoSiteTest, BadCategoryAddressesAreNotFound) {
  for (const char* path :
       {"/dance/sort/kushiyaki_1.html", "/dance/sort/remix_0.html", "/dance/sort/remix_x.html",
        "/dance/sort/remix.html", "/dance/sort/nothing_1.html", "/dance/play/1.html", "/nothing"})
    EXPECT_EQ(Get(site_->Port(), path).status, 404) << path;
}

TEST_F(DemoSiteTest, SearchFindsAndHighlightsTheDefaultKeyword) {
  std::string keyword = Gbk("狗尾草");
  std::string encoded = EncodeQueryValue(keyword);
  ASSERT_EQ(encoded, "%B9%B7%CE%B2%B2%DD");
  std::vector<std::string> raw;
  auto rows = ScrapeSearch(
      Get(site_->Port(), "/search.html?pageid=1&keyword=" + encoded + "&keytype=1").body, &raw);
  ASSERT_TRUE(rows.has_value());
  std::vector<const DemoSong*> expected = site_->Catalogue().Search(keyword);
  ASSERT_GT(expected.size(), 5u);
  ASSERT_EQ(rows->size(), std::min<std::size_t>(expected.size(), 30));
  for (std::size_t i = 0; i < rows->size(); ++i) {
    EXPECT_EQ((*rows)[i], (Row{expected[i]->id, ReplaceApostrophes(expected[i]->name),
                               ReplaceApostrophes(expected[i]->uploader)}));
    EXPECT_NE(ReplaceApostrophes(raw[i]).find(">" + keyword + "</"), std::string::npos) << raw[i];
    EXPECT_TRUE(raw[i].find("<b>") != std::string::npos || raw[i].find("<B>") != std::string::npos);
  }
}

TEST_F(DemoSiteTest, SearchDecodesPlusAndPercentAndPagesThroughResults) {
  struct Case {
    std::string query_keyword;  // as sent
    std::string keyword;        // decoded
    int page;
  };
  const Case cases[] = {
      {"don%27t+stop", "don't stop", 1},  // letter case ignored, "+" is a space
      {"Don't+Stop", "Don't Stop", 1},
      {"DJ", "DJ", 2},
      {"", "", 1},
      {"", "", 9},
      {"nowhere%20at%20all", "nowhere at all", 1},
  };
  for (const Case& c : cases) {
    auto rows = ScrapeSearch(Get(site_->Port(), "/search.html?pageid=" + std::to_string(c.page) +
                                                    "&keyword=" + c.query_keyword + "&keytype=1")
                                 .body);
    ASSERT_TRUE(rows.has_value()) << c.query_keyword;
    std::vector<const DemoSong*> found = site_->Catalogue().Search(c.keyword);
    std::size_t first = static_cast<std::size_t>(c.page - 1) * 30;
    std::size_t count = first < found.size() ? std::min<std::size_t>(30, found.size() - first) : 0;
    ASSERT_EQ(rows->size(), count) << c.query_keyword << " page " << c.page;
    for (std::size_t i = 0; i < count; ++i)
      EXPECT_EQ((*rows)[i].id, found[first + i]->id);
  }
  EXPECT_EQ(site_->Catalogue().Search("nowhere at all").size(), 0u);
  EXPECT_GT(site_->Catalogue().Search("DJ").size(), 30u);
  EXPECT_EQ(site_->Catalogue().Search("don't stop").size(),
            site_->Catalogue().Search("DON'T STOP").size());
}

TEST(DemoCatalogueTest, KeywordsMatchWholeCharactersOnly) {
  // "乙" is B7 69 in GBK... the pair 0xB7 'i' must not match at a trail byte.
  std::string name = Gbk("狗尾草 mix");
  EXPECT_EQ(DemoCatalogue::FindKeyword(name, Gbk("尾")), (std::vector<std::size_t>{2}));
  EXPECT_EQ(DemoCatalogue::FindKeyword(name, "MIX"), (std::vector<std::size_t>{7}));
  EXPECT_TRUE(DemoCatalogue::FindKeyword(name, name.substr(1, 2)).empty());  // trail + lead
  EXPECT_TRUE(DemoCatalogue::FindKeyword(name, "").empty());
}

TEST_F(DemoSiteTest, PlayPagesGiveTheStreamAddressInTwoParts) {
  int apostrophes = 0;
  std::set<std::string> formats;
  for (const DemoSong& song : site_->Catalogue().Songs()) {
    if (std::stoi(song.id) % 7 != 0 && !song.apostrophe_quotes)
      continue;
    std::string body = Get(site_->Port(), "/dance/play/" + song.id + ".html").body;
    auto matches = Pcre2MatchAll(kPlayPagePattern, ReplaceApostrophes(body));
    ASSERT_EQ(matches.size(), 1u) << song.id;
    std::string address = matches[0][1] + matches[0][2];
    std::string extension = song.format == AudioFormat::kMp3 ? ".mp3" : ".wma";
    EXPECT_EQ(address, site_->BaseAddress() + "/audio/" + song.id + extension);
    EXPECT_FALSE(matches[0][1].empty());
    EXPECT_FALSE(matches[0][2].empty());
    apostrophes += song.apostrophe_quotes;
    formats.insert(extension);
  }
  EXPECT_GT(apostrophes, 0);
  EXPECT_EQ(formats.size(), 2u);
}

TEST_F(DemoSiteTest, VersionFileHomePageAndRequestCounts) {
  EXPECT_EQ(Get(site_->Port(), "/djKivodata/ver.txt").body, "2");
  site_->SetVersionBody("2\r\n");
  EXPECT_EQ(Get(site_->Port(), "/djKivodata/ver.txt").body, "2\r\n");
  test::WireResponse home = Get(site_->Port(), "/");
  EXPECT_EQ(home.status, 200);
  EXPECT_NE(home.body.find("/dance/sort/Kushiyaki_1.html"), std::string::npos);

  site_->ClearRequests();
  Get(site_->Port(), "/dance/sort/remix_1.html");
  Get(site_->Port(), "/dance/sort/remix_1.html");
  Get(site_->Port(), "/search.html?pageid=1&keyword=a&keytype=1");
  Get(site_->Port(), "/search.html?pageid=2&keyword=a&keytype=1");
  EXPECT_EQ(site_->RequestCount("/dance/sort/remix_1.html"), 2);
  EXPECT_EQ(site_->RequestCount("/dance/sort/remix_2.html"), 0);
  EXPECT_EQ(site_->RequestCount("/search.html"), 2);
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=2&keyword=a&keytype=1"), 1);
  EXPECT_EQ(site_->TotalRequests(), 4);
  std::vector<RequestRecord> log = site_->Requests();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].target, "/search.html?pageid=1&keyword=a&keytype=1");
  EXPECT_NE(log[2].head.find("Host: 127.0.0.1"), std::string::npos);
}

}  // namespace
}  // namespace djkivo::demo
