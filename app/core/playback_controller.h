// The player's playback side: playing a play-list entry through the audio chain, the playback
// commands, the two play modes, auto-advance with its failure guard, and the title and time line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/core/audio_chain.h"
#include "app/core/catalogue_pages.h"
#include "app/core/list_load.h"
#include "app/core/my_list.h"
#include "app/core/player_view.h"
#include "base/main_thread.h"

namespace djkivo::app {

/// Time rules of playback, a setting so tests can shorten them.
struct PlaybackTiming {
  /// After a song that produced no audio, the next one starts no sooner than this after the
  /// failed one started: a broken site is asked at most once a second, not hundreds of times.
  std::chrono::milliseconds failed_song_spacing{1000};
  /// How long before the end of a song of known length the next song's play page is read, so
  /// auto-advance starts the next stream at once: ample for a slow page, short enough that the
  /// list seldom changes meanwhile. 0: the page is read only once the song has ended (the
  /// benchmark's comparison).
  std::chrono::seconds prepare_ahead{10};
};

/// What the display panel shows: the title and the two playing times.
struct DisplayLine {
  /// The song the title names; nothing shows "暂无播放文件".
  std::optional<TMyListDj> song;
  /// "M:SS" texts; both empty before the song's first tick, and whenever the title names a
  /// song whose stream is not the one loaded (the times would belong to another song).
  std::string elapsed;
  std::string total;
  /// The song's stream is being reconnected: the elapsed time stands still meanwhile.
  bool reconnecting = false;
};

/// The words the display line and the tray's tooltip show while a stream is reconnected.
inline constexpr const char* kReconnectingText = "正在重新连接…";

/// Plays the play list. Every song plays as a play-list entry: its play page is read, the stream
/// address cut out of it, and the chain restarted on it (`PlayCurrent`).
///
/// One song at a time names everything: while a song plays or is paused, the title, the times,
/// Play and Pause all refer to it, even while the play page of another entry is still loading
/// or after that page failed; the title changes when the new song starts. While nothing plays,
/// they refer to the entry at `CurrentIndex`, and Play starts that entry (it replays the loaded
/// stream only when that stream is the entry's).
///
/// Auto-advance counts every song that produced no audio (a failed or stalled open, an error,
/// an empty stream) as failed, and one whose stream was cut short (a drop not ridden out, see
/// `TMediaStreamIn::Failure`), which the status line names until the song after it has played
/// or the user gives a command; a song that played to its end resets the count, as does any
/// song the user starts. A failed song is followed after `PlaybackTiming::failed_song_spacing` at
/// the earliest, and once a whole round of the play list (at least two songs, so a one-song list
/// gets one retry) has failed in a row, auto-advance stops and says why. A play page that cannot
/// be read starts nothing and says so; the song that was playing goes on.
///
/// Auto-advance does not wait for the next song's play page: when the playing song is near its
/// end (`PlaybackTiming::prepare_ahead` before it, or its stream read to the end) the next
/// entry is chosen (the following one, or in random mode drawn then) and its page read while
/// the song plays out. A change of the play list or of the mode, or a song the user starts,
/// drops that prepared song; the advance then reads the page of the entry next at its end.
///
/// It starts idle and sequential, as the window's layout does, and calls nothing on the view
/// before its first command. Main thread only, every call; the chain's events must be forwarded
/// to `OnSongEnded` and `OnGainTick`. `pages`, `chain`, `my_list`, `view` and `main_thread` must
/// outlive it.
class PlaybackController {
 public:
  PlaybackController(std::string catalogue_host, CataloguePages& pages, AudioChain& chain,
                     TMyList& my_list, PlayerView& view, MainThread& main_thread,
                     PlaybackTiming timing = {});
  ~PlaybackController();
  PlaybackController(const PlaybackController&) = delete;
  PlaybackController& operator=(const PlaybackController&) = delete;

  // --- Commands of the user.
  /// Play: resumes a paused song; while idle, starts the entry the title names (entry 0 when
  /// none is chosen), replaying its stream when that is the one loaded. Nothing while playing
  /// or with an empty play list.
  void Play();
  /// Pause: pauses the playing song.
  void Pause();
  /// "播放/暂停": Pause while playing, Play otherwise.
  void TogglePlayPause();
  /// "上一首": the entry before the current one (entry 0 stays on entry 0; from -1, entry 0).
  void PreviousSong();
  /// "下一首": the entry after the current one, the first after the last; always in order.
  void NextSong();
  /// Plays entry `index` of the play list (a double click in it, an added song).
  void PlayEntry(int index);
  /// The play mode: random (true) draws the next entry at each song's end; sequential takes the
  /// following one.
  void SetRandomMode(bool random);
  /// The volume, in hundredths of a decibel (0 full, -4000 40 dB down). A device without
  /// volume control shows its "Control not available" in the error box.
  void SetVolume(int hundredths_db);

  // --- Events.
  /// The output's run ended by itself (end of stream, or a failure to open or read it):
  /// auto-advance. Not called for a synchronous stop.
  void OnSongEnded();
  /// The analyser's tick (every 100 ms of audio): the position bar and the time texts. Reads
  /// only what the stream already knows; never opens anything.
  void OnGainTick();
  /// The 100 ms button tick: shows the output's state when it changed.
  void RefreshPlaybackState();
  /// The stream input started or ended a reconnect (its `OnReconnect`).
  void OnReconnect();
  /// The desktop says the network is back: a reconnect waiting between attempts tries at once.
  void OnNetworkBack();
  /// The play list was changed (an entry added, deleted, the list cleared).
  void OnPlayListChanged();
  /// The window closes: stops the output synchronously; nothing is started afterwards.
  void Close();

  /// Plays `MyList[CurrentIndex]`; nothing while `CurrentIndex` is -1 or outside the list.
  void PlayCurrent();

  // --- State.
  PlaybackState State() const;
  bool RandomMode() const { return random_mode_; }
  DisplayLine Display() const;
  /// The play-list index of the entry the title names: `CurrentIndex`, or while another song
  /// plays, that song's entry (-1 when it is no longer in the list or nothing is named).
  int TitleEntry() const;
  /// The playing times of the loaded song, as the last tick computed them (`DisplayLine` says
  /// when they are shown).
  const std::string& ElapsedText() const { return elapsed_text_; }
  const std::string& TotalText() const { return total_text_; }
  /// The playing (or paused) song's stream is being reconnected.
  bool Reconnecting() const { return reconnecting_; }
  /// Songs in a row that failed (no audio, or cut short).
  int FailedSongs() const { return failed_songs_; }
  /// The status line's current word about playback.
  const PlaybackNotice& Notice() const { return notice_; }

  /// `observer` hears of songs started, state and title changes until removed. Main thread.
  void AddObserver(PlayerObserver& observer);
  void RemoveObserver(PlayerObserver& observer);

  /// The least number of failed songs in a row that stops auto-advance, whatever the list's
  /// length.
  static constexpr int kMinFailuresToStop = 2;
  /// The reason given when the songs ended without a message but produced no audio.
  static constexpr const char* kNoAudioMessage = "The stream delivered no audio";

 private:
  // A command of the user: a song the user starts is not part of a failing streak.
  void BeginUserCommand();
  // A command that starts a song of the user's choice.
  void BeginUserSong();
  void PlaySongById(const TMyListDj& song);
  // Runs the output on the stream address set last, as `song`.
  void StartRun(const TMyListDj& song);
  // Hands `page`'s stream to the output as `song`, or says why the page gave none.
  void StartResolved(const TMyListDj& song, PlayPage page);
  void PlayCurrentAfterSpacing();
  void CancelPendingStart();
  // The entry auto-advance goes to after the current one (a draw in random mode).
  int NextAdvanceIndex();
  // Near the song's end, chooses the next song and reads its play page.
  void PrepareNextSongIfDue();
  void LoadPreparedSong();
  // Auto-advance to the prepared song: at once when its page is in, else when it comes.
  void AdvanceToPreparedSong();
  void StartPreparedSong();
  // Forgets the prepared song, unless auto-advance already waits for its page.
  void DropPreparedSong();
  // Forgets it even then: the user chose another song, or the window closes.
  void ForgetPreparedSong();
  void SetNotice(PlaybackNotice notice);
  // Clears the status line's word that the song before was cut short, if it says that.
  void ClearCutShortNotice();
  // Tells the view and the observers when the song the title names changed.
  void NoteTitle();
  // Shows whether the loaded stream is being reconnected, when that changed.
  void NoteReconnecting(bool reconnecting);
  std::optional<TMyListDj> TitleSong() const;
  std::vector<PlayerObserver*> Observers() const { return observers_; }

  const std::string catalogue_host_;
  const PlaybackTiming timing_;
  CataloguePages& pages_;
  AudioChain& chain_;
  TMyList& my_list_;
  PlayerView& view_;
  MainThread& main_thread_;

  bool random_mode_ = false;
  bool closing_ = false;  // Close ran: nothing starts any more
  // The song whose stream address the chain holds (it plays, is paused or has ended).
  std::optional<TMyListDj> loaded_;
  std::chrono::steady_clock::time_point last_start_{};
  std::string elapsed_text_;
  std::string total_text_;
  int failed_songs_ = 0;
  bool reconnecting_ = false;  // as last shown
  std::string last_failure_;   // the reason of the last song that failed
  // A start waiting for the failed-song spacing; 0 for none.
  MainThread::TimerId pending_start_ = 0;
  // Keeps play requests apart: the window stays live while a play page loads, so a newer
  // request can begin before an older one ends, and the newest wins.
  ListLoadSequence play_loads_;
  // The song auto-advance goes to next, chosen near the end of the playing one.
  struct PreparedSong {
    int index = -1;  // its play-list entry when chosen
    TMyListDj song;
    std::optional<PlayPage> page;  // its play page, once read
    // The playing song ended while the page was read: auto-advance waits for it, as the play
    // request `advance` of `play_loads_`.
    std::optional<ListLoadSequence::Ticket> advance;
  };
  std::optional<PreparedSong> prepared_;
  // Tells a prepared page that arrives after its song was dropped (and perhaps another one
  // chosen) from the current one.
  std::uint64_t prepared_generation_ = 0;
  MainThread::TimerId prepare_timer_ = 0;  // the prepared page's load, about to begin
  PlaybackState shown_state_ = PlaybackState::kIdle;
  std::optional<TMyListDj> shown_title_;
  PlaybackNotice notice_;
  std::mt19937 random_{std::random_device{}()};  // the random mode's draws
  std::vector<PlayerObserver*> observers_;
};

}  // namespace djkivo::app
