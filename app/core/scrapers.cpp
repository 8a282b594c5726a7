#include "app/core/scrapers.h"

#include <algorithm>
#include <string_view>

#include "base/ascii.h"
#include "pattern/matcher.h"

namespace djkivo::app {

namespace {

// Quotes in the markup may be apostrophes or double quotes; the patterns expect the latter.
std::string WithDoubleQuotes(std::string page) {
  std::replace(page.begin(), page.end(), '\'', '"');
  return page;
}

// Runs the block pattern over the page and the row pattern over the block with one matcher,
// calling `on_row` with groups 1 to 3 of every row.
template <typename OnRow>
void ScrapeRows(const std::string& page, std::string_view block_pattern,
                std::string_view row_pattern, OnRow on_row) {
  pattern::TPatternMatcher matcher;
  matcher.SetExpression(block_pattern);
  // The input read back is the page up to its first NUL byte.
  matcher.SetInputString(page);
  if (!matcher.Exec(matcher.InputString()))
    return;
  const std::string block = matcher.GroupText(1);
  matcher.SetExpression(row_pattern);
  for (bool found = matcher.Exec(block); found; found = matcher.ExecNext())
    on_row(matcher.GroupText(1), matcher.GroupText(2), matcher.GroupText(3));
}

}  // namespace

std::vector<SongEntry> ScrapeCategoryPage(std::string page) {
  std::vector<SongEntry> songs;
  ScrapeRows(WithDoubleQuotes(std::move(page)), kCategoryBlockPattern, kCategoryRowPattern,
             [&](std::string id, std::string name, std::string uploader) {
               songs.push_back({std::move(name), std::move(uploader), std::move(id)});
             });
  return songs;
}

std::vector<SongEntry> ScrapeSearchPage(std::string page) {
  std::vector<SongEntry> songs;
  pattern::TPatternMatcher tags;
  tags.SetExpression(kTagStripPattern);
  ScrapeRows(WithDoubleQuotes(std::move(page)), kSearchBlockPattern, kSearchRowPattern,
             [&](std::string id, const std::string& name, const std::string& uploader) {
               const std::string bare_name = tags.ReplaceAll(name, "", true);
               songs.push_back({std::string(Trimmed(bare_name)), std::string(Trimmed(uploader)),
                                std::move(id)});
             });
  return songs;
}

std::string ResolveStreamAddress(std::string page) {
  const std::string prepared = WithDoubleQuotes(std::move(page));
  pattern::TPatternMatcher matcher;
  matcher.SetExpression(kPlayScriptPattern);
  if (!matcher.Exec(prepared))
    return {};
  return matcher.GroupText(1) + matcher.GroupText(2);
}

}  // namespace djkivo::app
