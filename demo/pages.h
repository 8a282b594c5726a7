// The demo site's HTML pages, in GBK, in the markup the player's scrapers expect, surrounded by
// the navigation, scripts and near-miss classes of a real list page.
#pragma once

#include <string>
#include <string_view>

#include "demo/catalogue.h"

namespace djkivo::demo {

/// The home page: links to every category, a search form, the version file.
std::string HomePage();

/// Page `page` of a category. Its list block "<div class="wq_4v">" holds the 30 rows of
/// `DemoCatalogue::CategoryPage` (none beyond the last page). Some rows are written in upper-case
/// markup, some quote attributes with apostrophes.
std::string CategoryListPage(const DemoCatalogue& catalogue, const DemoCategory& category,
                             int page);

/// Page `page` of the search results for `keyword` (GBK bytes): 30 rows a page in the block
/// "<div class="ser_3">", each name with every occurrence of the keyword in bold.
std::string SearchResultPage(const DemoCatalogue& catalogue, std::string_view keyword, int page);

/// The play page of `song`: its script gives the stream address `stream_base` + "<id>.mp3" (or
/// ".wma") in the two values s_bstr and righturl.
std::string PlayPage(const DemoSong& song, std::string_view stream_base);

/// The body of a "404 Not Found" answer.
std::string NotFoundPage(std::string_view target);

}  // namespace djkivo::demo
