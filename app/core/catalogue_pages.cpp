#include "app/core/catalogue_pages.h"

#include <exception>

#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"

namespace djkivo::app {

ListPage SiteCataloguePages::LoadList(const std::string& address, ListKind kind) {
  ListPage page;
  page.loaded = LoadListPage(address, kind, page.songs, &page.error);
  return page;
}

PlayPage SiteCataloguePages::LoadPlayPage(const std::string& address) {
  PlayPage page;
  std::string text;
  page.loaded = FetchPage(address, text, &page.error);
  if (!page.loaded)
    return page;
  try {
    page.stream_address = ResolveStreamAddress(std::move(text));
  } catch (const std::exception&) {
    // No address: the run fails to open and auto-advance moves on, as for a page without the
    // script.
  }
  return page;
}

}  // namespace djkivo::app
