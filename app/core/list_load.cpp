#include "app/core/list_load.h"

#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"

namespace djkivo::app {

bool LoadListPage(const std::string& address, ListKind kind, std::vector<SongEntry>& songs) {
  songs.clear();
  std::string page;
  if (!FetchPage(address, page))
    return false;
  songs = kind == ListKind::kSearch ? ScrapeSearchPage(std::move(page))
                                    : ScrapeCategoryPage(std::move(page));
  return true;
}

}  // namespace djkivo::app
