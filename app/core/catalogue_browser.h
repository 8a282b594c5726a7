// The song list's side of the window: which list it shows (a catalogue category, the search
// results, the play list or the home picture), paging through a list, and the rows on show.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/catalogue_address.h"
#include "app/core/catalogue_pages.h"
#include "app/core/list_load.h"
#include "app/core/my_list.h"
#include "app/core/paging.h"
#include "app/core/player_view.h"
#include "app/core/song_entry.h"

namespace djkivo::app {

/// One row of the song list as shown: views of the row's three texts (GBK bytes, exactly as
/// stored). Valid until the next command that changes the rows.
struct SongRow {
  std::string_view name;
  std::string_view uploader;
  std::string_view id;
};

/// Browses the catalogue: `CategoryIndex`, `PageUrlTemplate`, `CurrentPage`, the rows of the
/// list shown and what the list area says about them.
///
/// A list command (a category, a search, a paging button) settles the whole list it asks for —
/// `CategoryIndex` (which picks the scraper), template and page — before it loads, so a command
/// that runs while the load waits (the window keeps handling clicks) always pages the list the
/// user last asked for, with that list's scraper.
/// The newest list command wins: a load that ends after a newer command began drops its rows,
/// and showing the play list or the home picture counts as such a command.
///
/// The play list view (`CategoryIndex` 5) shows the play list's entries as its rows, one to one
/// by index; the play-list commands that change them are `PlayerController`'s.
///
/// Main thread only. `pages`, `my_list` and `view` must outlive the browser.
class CatalogueBrowser {
 public:
  CatalogueBrowser(std::string catalogue_host, CataloguePages& pages, const TMyList& my_list,
                   PlayerView& view);

  // --- Commands (the category list, the search box, the paging buttons).
  /// Shows catalogue category `item_index` (1-4, 7-10) from its first page. A category already
  /// shown is not loaded again, unless its last load failed.
  void OpenCategory(int item_index);
  /// Shows the first page of the search results for `keyword` (GBK bytes), on every call. The
  /// page box keeps its text.
  void Search(const std::string& keyword);
  /// The paging buttons "首页", "上一页", "下一页" and "跳转" (the latter reads
  /// `page_box_text`). They do nothing on the home picture and the play list; "上一页" does
  /// nothing on page 1; a "跳转" without a whole number shows "'TEXT' is not a valid integer
  /// value" in the error box and changes nothing.
  void FirstPage();
  void PreviousPage();
  void NextPage();
  void GoToPage(const std::string& page_box_text);
  /// "我的列表": the play list's entries as the rows; nothing when already shown.
  /// `PageUrlTemplate` and `CurrentPage` stay. (`PlayerController::ShowPlayList` also selects
  /// the entry the title names.)
  void ShowPlayList();
  /// "播放首页": the home picture instead of the song list; a list still loading is dropped.
  void ShowHome();

  // --- State.
  /// -1 the home picture, 0 the search results, 5 the play list, else the catalogue category.
  int CategoryIndex() const { return category_index_; }
  const std::string& PageUrlTemplate() const { return page_url_template_; }
  int CurrentPage() const { return current_page_; }
  bool ShowsPlayList() const { return category_index_ == kMyListCategory; }
  /// What the list area says, and the failure's message for `ListState::kFailed`.
  ListState State() const { return state_; }
  const std::string& ListError() const { return list_error_; }

  // --- The rows on show (the play list's entries in the play list view).
  int RowCount() const;
  /// Row `row`; `row` must be in [0, RowCount()).
  SongRow Row(int row) const;
  /// A copy of row `row`, or nothing for a row outside the list.
  std::optional<SongEntry> RowSong(int row) const;

 private:
  void ShowSongList();
  void Paging(PagingButton button, const std::string& page_box_text);
  // Replace the rows with the songs of one list page, read with the category or the search
  // scraper, unless a newer list command begins while the page loads.
  void ParseCategoryPage(const std::string& address);
  void ParseSearchPage(const std::string& address);
  void LoadList(const std::string& address, ListKind kind);
  void SetState(ListState state, std::string error);

  const std::string catalogue_host_;
  CataloguePages& pages_;
  const TMyList& my_list_;
  PlayerView& view_;

  int category_index_ = -1;        // `CategoryIndex`
  std::string page_url_template_;  // `PageUrlTemplate`
  int current_page_ = 1;           // `CurrentPage`
  std::vector<SongEntry> rows_;    // the rows of the last list page shown
  ListState state_ = ListState::kShown;
  std::string list_error_;
  bool home_shown_ = true;
  ListLoadSequence loads_;
};

}  // namespace djkivo::app
