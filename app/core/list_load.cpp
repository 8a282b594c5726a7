#include "app/core/list_load.h"

#include <exception>

#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"

namespace djkivo::app {

bool LoadListPage(const std::string& address, ListKind kind, std::vector<SongEntry>& songs,
                  std::string* error) {
  songs.clear();
  std::string page;
  if (!FetchPage(address, page, error))
    return false;
  try {
    songs = kind == ListKind::kSearch ? ScrapeSearchPage(std::move(page))
                                      : ScrapeCategoryPage(std::move(page));
  } catch (const std::exception& failure) {
    // A matcher fault (its step budget, say) is a failed load, not an empty page.
    if (error)
      *error = failure.what();
    return false;
  }
  return true;
}

}  // namespace djkivo::app
