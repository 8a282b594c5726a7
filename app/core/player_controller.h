// The player's window, without the window: everything the controls of `TForm1` do, as a Qt-free
// controller the window forwards its handlers to.
//
// What the window does, control by control, and the call that does it:
//
// - the category items "最新推荐" to "原创舞曲": `Catalogue().OpenCategory(item)`
// - "我的列表": `ShowPlayList()`; "播放首页": `Catalogue().ShowHome()`
// - the search box and its button: `Catalogue().Search(keyword)`
// - "首页", "上一页", "下一页", "跳转": `Catalogue().FirstPage()`, `PreviousPage()`, `NextPage()`,
//   `GoToPage(page box)`
// - a double click in the song list: `PlaySelected(row)`
// - the song list's menu, "加入到播放列表", "删除该播放记录", "清空播放列表": `AddToPlayList(row)`,
//   `DeleteEntry(row)`, `ClearPlayList()`; which of them apply: `MenuState()`
// - play, pause, "播放/暂停": `Playback().Play()`, `Pause()`, `TogglePlayPause()`
// - "上一首", "下一首": `Playback().PreviousSong()`, `NextSong()`
// - "顺序播放", "随机播放": `Playback().SetRandomMode(false)`, `SetRandomMode(true)`
// - the volume bar: `Playback().SetVolume(value)`
// - the output's end of a song and its 100 ms ticks: `Playback().OnSongEnded()`, `OnGainTick()`
// - the button swap's timer: `Playback().RefreshPlaybackState()`
// - closing the window: `Close()`
//
// The rules are in the parts' headers: catalogue_browser.h (which list is shown, paging, the
// newest list command wins) and playback_controller.h (playing an entry, the play modes,
// auto-advance and its failure guard, which song the title names). The window shows what the
// controller tells its `PlayerView` (player_view.h) and reads the rows, the title line and the
// states back from here; it keeps no player state of its own. The about box, the
// version check, the site link, the tray icon and the desktop's media keys stay in the window.
#pragma once

#include <memory>
#include <string>

#include "app/core/audio_chain.h"
#include "app/core/catalogue_browser.h"
#include "app/core/catalogue_pages.h"
#include "app/core/my_list.h"
#include "app/core/playback_controller.h"
#include "app/core/player_view.h"
#include "base/main_thread.h"

namespace djkivo::app {

/// What the controller is started with.
struct PlayerConfig {
  std::string catalogue_host;     // `CatalogueHost`: "NAME" or "NAME:PORT"
  std::string my_list_file_name;  // `MyListFileName`, the play list file
  /// The file is in the desktop's data folder, whose missing folders its first save makes.
  bool my_list_makes_folders = false;
  PlaybackTiming timing;
};

/// Which commands of the song list's menu apply in the view shown.
struct PlayListMenu {
  bool add = false;     // "加入到播放列表": outside the play list
  bool remove = false;  // "删除该播放记录": in the play list
  bool clear = false;   // "清空播放列表": in the play list

  bool operator==(const PlayListMenu&) const = default;
};

/// The player: the play list (`MyList`, `CurrentIndex`), the catalogue browser and playback,
/// and the play-list commands that join them. Main thread only; `pages`, `chain`, `view` and
/// `main_thread` must outlive it. Destroy it before the chain, after `Close`.
class PlayerController final : private PlayerObserver {
 public:
  PlayerController(PlayerConfig config, CataloguePages& pages, AudioChain& chain, PlayerView& view,
                   MainThread& main_thread);
  ~PlayerController() override;
  PlayerController(const PlayerController&) = delete;
  PlayerController& operator=(const PlayerController&) = delete;

  /// Reads the play list file at start-up: a missing file gives an empty list; an unreadable
  /// one shows "Cannot open file ..." in the error box and leaves the list empty.
  void LoadPlayList();

  CatalogueBrowser& Catalogue() { return catalogue_; }
  const CatalogueBrowser& Catalogue() const { return catalogue_; }
  PlaybackController& Playback() { return playback_; }
  const PlaybackController& Playback() const { return playback_; }
  const TMyList& MyList() const { return my_list_; }

  /// "我的列表": the play list's entries as the song list, the entry the title names selected.
  void ShowPlayList();

  // --- The song list's commands; `row` is the lowest selected row, -1 for none.
  /// "加入到播放列表": adds the row's song to the play list (once: a listed id plays its entry)
  /// and plays it. A play list that cannot be saved shows "Cannot create file ..." and the song
  /// still plays.
  void AddToPlayList(int row);
  /// The double click: in the play list plays the row's entry; elsewhere adds the row's song.
  void PlaySelected(int row);
  /// "删除该播放记录", in the play list only: removes the row's entry, then saves. Playback goes
  /// on, even for the entry playing.
  void DeleteEntry(int row);
  /// "清空播放列表", in the play list only: empties the list and saves. Playback goes on.
  void ClearPlayList();
  /// The menu's enabled commands.
  PlayListMenu MenuState() const;

  /// The window closes: playback stops synchronously, nothing starts afterwards.
  void Close();

 private:
  // PlayerObserver: in the play list, the entry the title names is the one selected.
  void SongStarted(const TMyListDj&) override { SelectTitleEntry(); }
  void PlaybackStateChanged(PlaybackState) override {}
  void TitleChanged() override { SelectTitleEntry(); }

  void SelectTitleEntry();

  // Saves the play list; a failure shows its message in the error box.
  void Save();

  PlayerView& view_;
  TMyList my_list_;
  CatalogueBrowser catalogue_;
  PlaybackController playback_;
};

}  // namespace djkivo::app
