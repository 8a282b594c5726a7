// What the player controller asks of the window (`PlayerView`) and tells whoever else listens
// (`PlayerObserver`), and the states both speak of. Qt-free: the window implements the view with
// widgets, the controller's tests with a recorder.
//
// Texts: song names arrive as the site's GBK bytes, exactly as stored; failure messages are the
// system's own (ASCII, or UTF-8 where they carry a file path). The window chooses the words around
// them and converts at its boundary.
#pragma once

#include <string>

#include "app/core/my_list.h"

namespace djkivo::app {

/// What the output is doing, as the window shows it (one button swaps between play and pause).
enum class PlaybackState {
  kIdle,     // nothing runs: never started, ended, stopped or failed
  kPlaying,  // a run is in progress (opening the stream counts as playing)
  kPaused,   // a run is paused
};

/// What the song list's area says besides its rows.
enum class ListState {
  kShown,    // the rows as loaded (or the play list): nothing to add
  kLoading,  // a list page is on its way; the rows are cleared meanwhile
  kFailed,   // the last list page could not be loaded; no rows, and the error says why
  kNoSongs,  // the page loaded but lists no songs (a search without hits, a page past the end)
};

/// A word about playback for the status line: why a song did not start, why playback stopped.
struct PlaybackNotice {
  enum class Kind {
    kNone,            // nothing to say: a song started
    kPlayPageFailed,  // `song_name`'s play page could not be read, so it was not started
    kStopped,         // `failed_songs` songs in a row failed: auto-advance stopped
    kCutShort,        // `song_name`'s stream ended before the song did; auto-advance went on
  };
  Kind kind = Kind::kNone;
  std::string song_name;  // GBK; the song concerned (for kStopped, the last one tried)
  std::string reason;     // the failure's message; may be empty
  int failed_songs = 0;

  bool operator==(const PlaybackNotice&) const = default;
};

/// The window as the controller drives it. Every call comes on the main thread, from inside a
/// controller command or event; a call may come while a page load of an earlier command still
/// waits (the window's loads keep its event loop running).
class PlayerView {
 public:
  virtual ~PlayerView() = default;

  // --- The list area: the home picture, or the song list with its paging box.
  /// Shows the home picture (true) or the song list (false) in the content area.
  virtual void ShowHomePicture(bool shown) = 0;
  /// Marks category-list item `item_index` as the current one.
  virtual void HighlightCategory(int item_index) = 0;
  /// Writes the page box (`SkinEdit2`).
  virtual void SetPageBox(const std::string& text) = 0;
  /// The song list's rows were replaced; read them again through `SongListRows`.
  virtual void RowsReset() = 0;
  /// Rows `first` to `first + count - 1` were inserted.
  virtual void RowsInserted(int first, int count) = 0;
  /// Row `row` was removed; the rows after it moved up by one.
  virtual void RowRemoved(int row) = 0;
  /// Selects row `row` (and scrolls to it); -1, or a row outside the list, clears the selection.
  virtual void SelectRow(int row) = 0;
  /// What the list area says besides its rows; `error` is set for `ListState::kFailed`.
  virtual void ShowListState(ListState state, const std::string& error) = 0;

  // --- Playback.
  /// The play/pause button swap: pause shown while playing, play otherwise.
  virtual void ShowPlaybackState(PlaybackState state) = 0;
  /// The two mode buttons: exactly one of "顺序播放" (false) and "随机播放" (true) is down.
  virtual void ShowPlayMode(bool random) = 0;
  /// The position bar, in percent; -1 when the stream's length is unknown.
  virtual void SetProgress(int percent) = 0;
  /// The title or the time texts changed: repaint the display panel from `DisplayLine`.
  virtual void RefreshDisplay() = 0;
  /// The status line's word about playback; `kNone` clears it.
  virtual void ShowNotice(const PlaybackNotice& notice) = 0;
  /// The playing song's stream lost its connection and is being reconnected (true), or no
  /// longer is: the display line and the tray's tooltip say so (`DisplayLine::reconnecting`).
  virtual void ShowReconnecting(bool reconnecting) = 0;

  // --- Messages.
  /// The application's standard error box (modal in the running program).
  virtual void ShowError(const std::string& message) = 0;
};

/// Whoever else wants to hear what the player does: the desktop's notifications, a sleep
/// inhibitor, the media-player service. Every call comes on the main thread, after the view has
/// been updated. An observer must not destroy the controller from inside a call.
class PlayerObserver {
 public:
  virtual ~PlayerObserver() = default;

  /// `song`'s stream was handed to the output: it is now the song the title names.
  virtual void SongStarted(const TMyListDj& song) = 0;
  /// The output went from one state to another.
  virtual void PlaybackStateChanged(PlaybackState state) = 0;
  /// The song the title names changed (another song, or none).
  virtual void TitleChanged() = 0;
};

}  // namespace djkivo::app
