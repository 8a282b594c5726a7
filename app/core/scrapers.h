// The scrapers: song rows out of catalogue and search list pages, and the stream address out
// of a play page. Pure functions of the page bytes: the window calls them after `FetchPage`
// (the list is emptied before the load, so a failed load shows an empty list), the
// command-line tool on pages it read from a file or fetched. Any thread; each call creates and
// frees its own matchers.
//
// Every page has each apostrophe replaced by a double quote first, so markup quoted either way
// matches the patterns and names show a double quote in place of an apostrophe. The patterns
// ignore letter case and let "." run across line breaks. A page is taken up to its first NUL
// byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/core/song_entry.h"

namespace djkivo::app {

/// The patterns the scrapers run, for the matcher's default flags ("." matches line breaks).
/// Block patterns have one group, the list block; row patterns three: id, name, uploader.
inline constexpr std::string_view kCategoryBlockPattern =
    R"re((?i)<div class="wq_4v">(.+?)</div>)re";
inline constexpr std::string_view kCategoryRowPattern =
    R"re((?i)<ul><li class="wq_2"><input type="checkbox"  class="checkbox" name="check" )re"
    R"re(value=(\d+) /> <a href=/dance/play/\d+.html onClick=.+?>(.+?)</a>.+?)re"
    R"re(<li class="wq_8"><a href=".+?" target=_blank>(.+?)</a></li>.+?</ul>)re";
inline constexpr std::string_view kSearchBlockPattern = R"re((?i)<div class="ser_3">(.+?)</div>)re";
inline constexpr std::string_view kSearchRowPattern =
    R"re((?i)<ul>.+?name="check" value="(\d+)" /></li>.+?<li class="ser_8">.+?>(.+?)</a></li>)re"
    R"re(.+?<li class="ser_6"><a href=".+?" target=_blank>(.+?)</a></li>.+?</ul>)re";
/// Removes HTML tags from a search result's name (with an empty replacement).
inline constexpr std::string_view kTagStripPattern = "(?i)<.+?>";
/// The play page's script: group 1 the value of s_bstr, group 2 that of righturl.
inline constexpr std::string_view kPlayScriptPattern =
    R"re((?i)<SCRIPT LANGUAGE=JavaScript>var s_bstr="(.+?)".+?righturl="(.+?)";</SCRIPT>)re";

/// The songs of a category page, in page order: the rows of its list block, texts exactly as
/// matched (no trimming, no tag removal). Empty when the page has no block or the block no rows.
/// Throws `pattern::EPatternError` only on a matcher fault (the patterns are fixed and valid).
std::vector<SongEntry> ScrapeCategoryPage(std::string page);

/// The songs of a search result page, in page order. The name loses every HTML tag (a bold
/// keyword, for one) and, like the uploader, its leading and trailing bytes of value 32 or less.
/// Empty when the page has no block or the block no rows.
std::vector<SongEntry> ScrapeSearchPage(std::string page);

/// The stream address of a play page: the value assigned to s_bstr in the page's script followed
/// directly by the value assigned to righturl; empty when the page has no such script.
std::string ResolveStreamAddress(std::string page);

}  // namespace djkivo::app
