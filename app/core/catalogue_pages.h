// Where the player controller's pages come from: list pages (categories and search) and play
// pages. The window reads them from the catalogue site with `FetchPage`; the controller's tests
// plug in a scripted source.
#pragma once

#include <string>
#include <vector>

#include "app/core/list_load.h"
#include "app/core/song_entry.h"

namespace djkivo::app {

/// One list page: its songs, or why it could not be had.
struct ListPage {
  bool loaded = false;           // false: `error` says why and `songs` is empty
  std::vector<SongEntry> songs;  // in page order; may be empty for a loaded page
  std::string error;             // the failure's message when not `loaded`
};

/// One play page, resolved to the song's stream address.
struct PlayPage {
  bool loaded = false;         // false: the page could not be read; `error` says why
  std::string stream_address;  // empty when the page holds no stream script
  std::string error;
};

/// The pages the controller reads. Both calls block until the load has ended, but on the window's
/// thread they wait in a nested event loop, so other commands of the controller may run inside
/// them (and start loads of their own) before they return. Main thread; never throw.
class CataloguePages {
 public:
  virtual ~CataloguePages() = default;

  /// The list page at `address`, scraped as `kind` says.
  virtual ListPage LoadList(const std::string& address, ListKind kind) = 0;
  /// The play page at `address`, with the stream address cut out of its script.
  virtual PlayPage LoadPlayPage(const std::string& address) = 0;
};

/// The catalogue site itself: `FetchPage` (through the installed `Waiter`) and the scrapers.
class SiteCataloguePages final : public CataloguePages {
 public:
  ListPage LoadList(const std::string& address, ListKind kind) override;
  PlayPage LoadPlayPage(const std::string& address) override;
};

}  // namespace djkivo::app
