// Generated catalogue pages in the site's markup, for matcher tests and benchmarks: list,
// search and play pages with the rows they hold, so a scrape can be checked row by row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace djkivo::test {

/// The program's patterns, as the scrapers use them.
extern const char* const kCategoryBlockPattern;
extern const char* const kCategoryRowPattern;
extern const char* const kSearchBlockPattern;
extern const char* const kSearchRowPattern;
extern const char* const kTagStripPattern;
extern const char* const kPlayPagePattern;

/// One song row as the page lists it (name as in the markup, uploader untrimmed).
struct PageRow {
  std::string id;
  std::string name;
  std::string uploader;
  std::string plain_name;  // the name without tags, apostrophes replaced
};

struct PageOptions {
  int rows = 30;
  std::size_t row_bytes = 1700;  // each row is padded with filler cells to about this size
  bool upper_case = false;       // markup in upper case (the patterns ignore case)
  bool broken = false;           // the uploader cell's class renamed: no row matches
  unsigned seed = 1;
};

/// A category list page (apostrophes already replaced by double quotes, as the scraper does
/// before matching). `rows` receives what every row holds.
std::string MakeListPage(const PageOptions& options, std::vector<PageRow>* rows);

/// A search result page; names carry bold tags around the keyword, uploaders spaces.
std::string MakeSearchPage(const PageOptions& options, std::vector<PageRow>* rows);

/// A play page of about `bytes` bytes; `address` receives the stream address it holds.
std::string MakePlayPage(std::size_t bytes, unsigned seed, std::string* address);

/// Search-result names with tags; `stripped` receives each name without its tags.
std::vector<std::string> MakeTaggedNames(int count, unsigned seed,
                                         std::vector<std::string>* stripped);

/// The text with every "'" replaced by '"' (what the scrapers do to a page first).
std::string ReplaceApostrophes(std::string text);

}  // namespace djkivo::test
