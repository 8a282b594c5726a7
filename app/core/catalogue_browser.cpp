// Covered by tests/app/core/catalogue_browser_test.cpp.
#include "app/core/catalogue_browser.h"

#include <cassert>
#include <utility>

#include "app/core/text.h"

namespace djkivo::app {

CatalogueBrowser::CatalogueBrowser(std::string catalogue_host, CataloguePages& pages,
                                   const TMyList& my_list, PlayerView& view)
    : catalogue_host_(std::move(catalogue_host)), pages_(pages), my_list_(my_list), view_(view) {}

void CatalogueBrowser::ShowSongList() {
  if (!home_shown_)
    return;
  home_shown_ = false;
  view_.ShowHomePicture(false);
}

void CatalogueBrowser::SetState(ListState state, std::string error) {
  state_ = state;
  list_error_ = std::move(error);
  view_.ShowListState(state_, list_error_);
}

void CatalogueBrowser::ParseCategoryPage(const std::string& address) {
  LoadList(address, ListKind::kCategory);
}

void CatalogueBrowser::ParseSearchPage(const std::string& address) {
  LoadList(address, ListKind::kSearch);
}

void CatalogueBrowser::LoadList(const std::string& address, ListKind kind) {
  const ListLoadSequence::Ticket ticket = loads_.Begin();
  rows_.clear();
  view_.RowsReset();
  SetState(ListState::kLoading, {});
  ListPage page = pages_.LoadList(address, kind);
  if (!loads_.IsLatest(ticket))
    return;  // a newer list command owns the list area now
  rows_ = std::move(page.songs);
  view_.RowsReset();
  if (!page.loaded)
    SetState(ListState::kFailed, std::move(page.error));
  else
    SetState(rows_.empty() ? ListState::kNoSongs : ListState::kShown, {});
}

void CatalogueBrowser::OpenCategory(int item_index) {
  assert(IsCatalogueCategory(item_index) && "not a catalogue category");
  if (item_index == category_index_ && state_ != ListState::kFailed)
    return;
  view_.HighlightCategory(item_index);
  category_index_ = item_index;
  page_url_template_ = CategoryTemplateAddress(catalogue_host_, item_index);
  current_page_ = 1;
  view_.SetPageBox("1");
  ShowSongList();
  ParseCategoryPage(CategoryFirstPageAddress(catalogue_host_, item_index));
}

void CatalogueBrowser::Search(const std::string& keyword) {
  category_index_ = kSearchCategory;
  page_url_template_ = SearchTemplateAddress(catalogue_host_, keyword);
  current_page_ = 1;
  ShowSongList();
  ParseSearchPage(SearchFirstPageAddress(catalogue_host_, keyword));
}

void CatalogueBrowser::Paging(PagingButton button, const std::string& page_box_text) {
  std::optional<int> page;
  try {
    page = PagingTarget(button, category_index_, current_page_, page_box_text);
  } catch (const EConvertError& error) {
    view_.ShowError(error.what());
    return;
  }
  if (!page)
    return;
  current_page_ = *page;
  view_.SetPageBox(std::to_string(*page));
  const std::string address = PageAddress(page_url_template_, *page);
  if (category_index_ == kSearchCategory)
    ParseSearchPage(address);
  else
    ParseCategoryPage(address);
}

void CatalogueBrowser::FirstPage() { Paging(PagingButton::kFirst, {}); }
void CatalogueBrowser::PreviousPage() { Paging(PagingButton::kPrevious, {}); }
void CatalogueBrowser::NextPage() { Paging(PagingButton::kNext, {}); }
void CatalogueBrowser::GoToPage(const std::string& page_box_text) {
  Paging(PagingButton::kGoTo, page_box_text);
}

void CatalogueBrowser::ShowPlayList() {
  if (category_index_ == kMyListCategory)
    return;
  view_.HighlightCategory(kMyListCategory);
  category_index_ = kMyListCategory;
  loads_.Begin();  // a list still loading must not put its rows over the play list
  ShowSongList();
  view_.RowsReset();
  SetState(ListState::kShown, {});
}

void CatalogueBrowser::ShowHome() {
  category_index_ = kHomeCategory;
  loads_.Begin();  // a list still loading is no longer wanted
  state_ = ListState::kShown;
  list_error_.clear();
  if (home_shown_)
    return;
  home_shown_ = true;
  view_.ShowHomePicture(true);
}

int CatalogueBrowser::RowCount() const {
  return ShowsPlayList() ? static_cast<int>(my_list_.MyList().size())
                         : static_cast<int>(rows_.size());
}

SongRow CatalogueBrowser::Row(int row) const {
  assert(row >= 0 && row < RowCount() && "row outside the song list");
  if (ShowsPlayList()) {
    const TMyListDj& entry = my_list_.MyList()[static_cast<std::size_t>(row)];
    return {entry.name, entry.uploader, entry.id};
  }
  const SongEntry& song = rows_[static_cast<std::size_t>(row)];
  return {song.name, song.uploader, song.id};
}

std::optional<SongEntry> CatalogueBrowser::RowSong(int row) const {
  if (row < 0 || row >= RowCount())
    return std::nullopt;
  const SongRow shown = Row(row);
  return SongEntry{std::string(shown.name), std::string(shown.uploader), std::string(shown.id)};
}

}  // namespace djkivo::app
