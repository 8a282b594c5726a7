// Loading one list page (a category or a search page) and keeping overlapping loads apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/song_entry.h"

namespace djkivo::app {

/// Which scraper reads a list page: `CategoryIndex` 0 is the search, any other the categories.
enum class ListKind {
  kCategory,  // a category page: `ScrapeCategoryPage`
  kSearch,    // a search result page: `ScrapeSearchPage`
};

/// Reads the list page at `address` with `FetchPage` and scrapes it. True with the page's songs
/// in `songs` (possibly none); false, with `songs` emptied and the reason in `*error` (when
/// given), when the page could not be read or the scraper failed on it. Never throws; blocks (or
/// waits through the installed `Waiter`) until the load ends. Any thread.
bool LoadListPage(const std::string& address, ListKind kind, std::vector<SongEntry>& songs,
                  std::string* error = nullptr);

/// Keeps overlapping list loads apart: the window stays live while a load waits, so a newer
/// list command can start before an older load ends. The newest command wins; a load that ends
/// after a newer one began drops its rows.
///
/// Use: `const auto ticket = loads.Begin();` before the load, then show its rows only if
/// `loads.IsLatest(ticket)`. Window thread only.
class ListLoadSequence {
 public:
  using Ticket = std::uint64_t;

  /// Marks the start of a list command; every earlier ticket stops being the latest.
  Ticket Begin() { return ++latest_; }
  /// True while no list command began after the one holding `ticket`.
  bool IsLatest(Ticket ticket) const { return ticket == latest_; }

 private:
  Ticket latest_ = 0;
};

}  // namespace djkivo::app
