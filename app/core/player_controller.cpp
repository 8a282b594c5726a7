// Covered by tests/app/core/player_controller_test.cpp.
#include "app/core/player_controller.h"

#include <utility>

namespace djkivo::app {

PlayerController::PlayerController(PlayerConfig config, CataloguePages& pages, AudioChain& chain,
                                   PlayerView& view, MainThread& main_thread)
    : view_(view),
      my_list_(std::move(config.my_list_file_name), config.my_list_makes_folders),
      catalogue_(config.catalogue_host, pages, my_list_, view),
      playback_(config.catalogue_host, pages, chain, my_list_, view, main_thread, config.timing) {
  playback_.AddObserver(*this);
}

PlayerController::~PlayerController() { playback_.RemoveObserver(*this); }

void PlayerController::LoadPlayList() {
  try {
    my_list_.Load();
  } catch (const EFileError& error) {
    view_.ShowError(error.what());
  }
  playback_.OnPlayListChanged();
}

void PlayerController::Save() {
  try {
    my_list_.SaveMyList();
  } catch (const EFileError& error) {
    view_.ShowError(error.what());
  }
}

void PlayerController::AddToPlayList(int row) {
  const std::optional<SongEntry> song = catalogue_.RowSong(row);
  if (!song)
    return;
  const std::size_t before = my_list_.MyList().size();
  try {
    my_list_.Add(*song);
  } catch (const EFileError& error) {
    // The entry stays in memory and is played: only the file is behind.
    view_.ShowError(error.what());
  }
  if (my_list_.MyList().size() > before) {
    if (catalogue_.ShowsPlayList())
      view_.RowsInserted(static_cast<int>(before), 1);
    playback_.OnPlayListChanged();
  }
  playback_.PlayEntry(my_list_.CurrentIndex());
}

void PlayerController::PlaySelected(int row) {
  if (!catalogue_.ShowsPlayList()) {
    AddToPlayList(row);
    return;
  }
  if (row < 0)
    return;
  playback_.PlayEntry(row);
  SelectTitleEntry();  // a song that did not start leaves the playing one selected
}

void PlayerController::DeleteEntry(int row) {
  if (!catalogue_.ShowsPlayList())
    return;
  if (row >= 0 && row < catalogue_.RowCount()) {
    my_list_.DeleteMyListEntry(row);
    view_.RowRemoved(row);
    playback_.OnPlayListChanged();
  }
  Save();
}

void PlayerController::ClearPlayList() {
  if (!catalogue_.ShowsPlayList())
    return;
  try {
    my_list_.Clear();
  } catch (const EFileError& error) {
    view_.ShowError(error.what());
  }
  view_.RowsReset();
  playback_.OnPlayListChanged();
}

PlayListMenu PlayerController::MenuState() const {
  const bool in_play_list = catalogue_.ShowsPlayList();
  return {!in_play_list, in_play_list, in_play_list};
}

void PlayerController::Close() { playback_.Close(); }

void PlayerController::SelectTitleEntry() {
  if (catalogue_.ShowsPlayList())
    view_.SelectRow(playback_.TitleEntry());
}

void PlayerController::ShowPlayList() {
  catalogue_.ShowPlayList();
  SelectTitleEntry();
}

}  // namespace djkivo::app
