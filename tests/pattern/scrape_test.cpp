// The program's own patterns on generated list, search and play pages: every row must come
// out exactly as the page holds it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ascii.h"
#include "pattern/matcher.h"
#include "tests/support/scrape_pages.h"

namespace djkivo::pattern {
namespace {

using test::PageOptions;
using test::PageRow;

// Block, then rows, on one matcher, as the scrapers do it.
std::vector<PageRow> Scrape(const std::string& page, const char* block, const char* row) {
  std::vector<PageRow> rows;
  TPatternMatcher m;
  m.SetExpression(block);
  m.SetInputString(page);
  if (!m.Exec(m.InputString()))
    return rows;
  const std::string list = m.GroupText(1);
  m.SetExpression(row);
  m.SetInputString(list);
  for (bool found = m.Exec(m.InputString()); found; found = m.ExecNext())
    rows.push_back({m.GroupText(1), m.GroupText(2), m.GroupText(3), {}});
  return rows;
}

class ListPageTest : public ::testing::TestWithParam<PageOptions> {};

TEST_P(ListPageTest, EveryRowComesOut) {
  std::vector<PageRow> expected;
  const std::string page = test::MakeListPage(GetParam(), &expected);
  std::vector<PageRow> got = Scrape(page, test::kCategoryBlockPattern, test::kCategoryRowPattern);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].id, expected[k].id) << "row " << k;
    EXPECT_EQ(got[k].name, expected[k].name) << "row " << k;
    EXPECT_EQ(got[k].uploader, expected[k].uploader) << "row " << k;
  }
}

PageOptions Options(int rows, bool upper, unsigned seed, std::size_t row_bytes = 1700) {
  PageOptions o;
  o.rows = rows;
  o.upper_case = upper;
  o.seed = seed;
  o.row_bytes = row_bytes;
  return o;
}

INSTANTIATE_TEST_SUITE_P(Pages, ListPageTest,
                         ::testing::Values(Options(30, false, 1), Options(30, true, 2),
                                           Options(1, false, 3), Options(0, false, 4),
                                           Options(500, false, 5, 300), Options(40, true, 6, 200)));

TEST(SearchPageTest, EveryRowComesOutAndTagsStrip) {
  for (bool upper : {false, true}) {
    std::vector<PageRow> expected;
    const std::string page = test::MakeSearchPage(Options(30, upper, 7), &expected);
    std::vector<PageRow> got = Scrape(page, test::kSearchBlockPattern, test::kSearchRowPattern);
    ASSERT_EQ(got.size(), expected.size());
    TPatternMatcher strip;
    strip.SetExpression(test::kTagStripPattern);
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].id, expected[k].id);
      EXPECT_EQ(got[k].name, expected[k].name);
      EXPECT_EQ(Trimmed(got[k].uploader), Trimmed(expected[k].uploader));
      EXPECT_EQ(Trimmed(strip.ReplaceAll(got[k].name, "", true)), expected[k].plain_name);
    }
  }
}

TEST(PlayPageTest, StreamAddressIsBothValuesJoined) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::string address;
    const std::string page = test::MakePlayPage(20000, seed, &address);
    TPatternMatcher m;
    m.SetExpression(test::kPlayPagePattern);
    ASSERT_TRUE(m.Exec(page));
    EXPECT_EQ(m.GroupText(1) + m.GroupText(2), address);
  }
}

TEST(TagStripTest, NamesLoseEveryTag) {
  std::vector<std::string> stripped;
  std::vector<std::string> names = test::MakeTaggedNames(200, 9, &stripped);
  TPatternMatcher m;
  m.SetExpression(test::kTagStripPattern);
  for (std::size_t k = 0; k < names.size(); ++k)
    EXPECT_EQ(m.ReplaceAll(names[k], "", true), stripped[k]);
}

// The uploader cell renamed: the row pattern matches nowhere, and every start position runs
// its lazy parts to the end of the page. Memoised, this stays linear; a wrong memo would lose
// rows on the intact page instead, which the tests above check.
TEST(BrokenPageTest, NoRowsAndNoBlowUp) {
  PageOptions options = Options(300, false, 11);
  options.broken = true;
  EXPECT_TRUE(Scrape(test::MakeListPage(options, nullptr), test::kCategoryBlockPattern,
                     test::kCategoryRowPattern)
                  .empty());
  EXPECT_TRUE(Scrape(test::MakeSearchPage(options, nullptr), test::kSearchBlockPattern,
                     test::kSearchRowPattern)
                  .empty());
}

// A 10 MB list: rows come out in order; nothing recurses per byte or per row.
TEST(BigPageTest, TenMegabyteListScrapesWhole) {
  std::vector<PageRow> expected;
  PageOptions options = Options(6400, false, 12);
  const std::string page = test::MakeListPage(options, &expected);
  ASSERT_GE(page.size(), 10'000'000u);
  std::vector<PageRow> got = Scrape(page, test::kCategoryBlockPattern, test::kCategoryRowPattern);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got.back().id, expected.back().id);
}

}  // namespace
}  // namespace djkivo::pattern
