// Covered by tests/app/core/playback_controller_test.cpp.
#include "app/core/playback_controller.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/core/catalogue_address.h"
#include "app/core/time_display.h"

namespace djkivo::app {

PlaybackController::PlaybackController(std::string catalogue_host, CataloguePages& pages,
                                       AudioChain& chain, TMyList& my_list, PlayerView& view,
                                       MainThread& main_thread, PlaybackTiming timing)
    : catalogue_host_(std::move(catalogue_host)),
      timing_(timing),
      pages_(pages),
      chain_(chain),
      my_list_(my_list),
      view_(view),
      main_thread_(main_thread) {}

PlaybackController::~PlaybackController() {
  CancelPendingStart();
  if (prepare_timer_ != 0)
    main_thread_.StopTimer(prepare_timer_);
}

PlaybackState PlaybackController::State() const {
  switch (chain_.SoundOut1.Status()) {
    case OutputStatus::kPlaying:
      return PlaybackState::kPlaying;
    case OutputStatus::kPaused:
      return PlaybackState::kPaused;
    default:
      return PlaybackState::kIdle;
  }
}

void PlaybackController::AddObserver(PlayerObserver& observer) { observers_.push_back(&observer); }

void PlaybackController::RemoveObserver(PlayerObserver& observer) {
  std::erase(observers_, &observer);
}

// --- Song resolution ---------------------------------------------------------------------------

void PlaybackController::PlayCurrent() {
  const TMyListDj* entry = my_list_.Current();
  if (entry == nullptr || closing_)
    return;
  const TMyListDj song = *entry;  // the list may change while the play page loads
  PlaySongById(song);
}

void PlaybackController::PlaySongById(const TMyListDj& song) {
  const ListLoadSequence::Ticket ticket = play_loads_.Begin();
  if (reconnecting_) {
    // The song asked for replaces one whose stream waits for the network: that wait ends now,
    // not when (or if) the new page arrives, which on a network that is down may never be.
    chain_.SoundOut1.Stop(false);
    NoteReconnecting(false);
    RefreshPlaybackState();
  }
  NoteTitle();  // while nothing plays, the title follows the entry asked for at once
  PlayPage page = pages_.LoadPlayPage(PlayPageAddress(catalogue_host_, song.id));
  if (closing_ || !play_loads_.IsLatest(ticket))
    return;  // the window closed, or a newer play request began, while the page loaded
  StartResolved(song, std::move(page));
}

void PlaybackController::StartResolved(const TMyListDj& song, PlayPage page) {
  if (!page.loaded) {
    // The song that was playing goes on; nothing else changes.
    SetNotice({PlaybackNotice::Kind::kPlayPageFailed, song.name, std::move(page.error), 0});
    return;
  }
  chain_.SoundOut1.Stop(false);  // raises no OnDone: replacing a song is not the end of one
  chain_.MediaStreamIn1.SetFileName(page.stream_address);
  chain_.MediaStreamIn1.SetBufferingTime(AudioChain::kBufferingSeconds);
  StartRun(song);
}

void PlaybackController::StartRun(const TMyListDj& song) {
  DropPreparedSong();       // it followed the song this one replaces
  NoteReconnecting(false);  // the stream that reconnected is closed
  loaded_ = song;
  elapsed_text_.clear();
  total_text_.clear();
  last_start_ = std::chrono::steady_clock::now();
  try {
    chain_.SoundOut1.Run();
  } catch (const std::exception& error) {
    view_.ShowError(error.what());
    RefreshPlaybackState();
    NoteTitle();
    return;
  }
  // A song started says nothing more, except that the song before it was cut short: that
  // word stays while auto-advance plays the next one, so a user who comes back to the desk
  // learns why the mix ended early.
  if (notice_.kind != PlaybackNotice::Kind::kCutShort)
    SetNotice({});
  RefreshPlaybackState();
  NoteTitle();
  view_.RefreshDisplay();
  for (PlayerObserver* observer : Observers())
    observer->SongStarted(song);
}

// --- Commands ----------------------------------------------------------------------------------

void PlaybackController::BeginUserCommand() {
  failed_songs_ = 0;
  CancelPendingStart();
  ClearCutShortNotice();  // the user is back and has seen it
}

void PlaybackController::BeginUserSong() {
  BeginUserCommand();
  ForgetPreparedSong();  // the user chose what plays next
}

void PlaybackController::Play() {
  BeginUserCommand();
  // The state is read before a song is started and never after, so a run that fails at once
  // is not run a second time.
  switch (State()) {
    case PlaybackState::kPaused:
      try {
        chain_.SoundOut1.Resume();
      } catch (const std::exception& error) {
        view_.ShowError(error.what());
      }
      RefreshPlaybackState();
      return;
    case PlaybackState::kPlaying:
      return;
    case PlaybackState::kIdle:
      break;
  }
  ForgetPreparedSong();
  if (my_list_.Current() == nullptr) {
    if (my_list_.MyList().empty())
      return;
    my_list_.SetCurrentIndex(0);  // nothing chosen yet: from the top
  }
  const TMyListDj& entry = *my_list_.Current();
  if (loaded_ && loaded_->id == entry.id && !chain_.MediaStreamIn1.FileName().empty())
    StartRun(entry);  // the loaded stream is this entry's: play it again from its start
  else
    PlayCurrent();
}

void PlaybackController::Pause() {
  CancelPendingStart();
  try {
    chain_.SoundOut1.Pause();
  } catch (const std::exception& error) {
    view_.ShowError(error.what());
  }
  RefreshPlaybackState();
}

void PlaybackController::TogglePlayPause() {
  if (State() == PlaybackState::kPlaying)
    Pause();
  else
    Play();
}

void PlaybackController::PreviousSong() {
  if (my_list_.MyList().empty())
    return;
  BeginUserSong();
  view_.SetProgress(0);
  const int index = my_list_.CurrentIndex() - 1;
  my_list_.SetCurrentIndex(std::max(index, 0));
  PlayCurrent();
}

void PlaybackController::NextSong() {
  const int count = static_cast<int>(my_list_.MyList().size());
  if (count == 0)
    return;
  BeginUserSong();
  view_.SetProgress(0);
  my_list_.SetCurrentIndex((my_list_.CurrentIndex() + 1) % count);
  PlayCurrent();
}

void PlaybackController::PlayEntry(int index) {
  BeginUserSong();
  my_list_.SetCurrentIndex(index);
  PlayCurrent();
}

void PlaybackController::SetRandomMode(bool random) {
  if (random != random_mode_)
    DropPreparedSong();  // chosen by the other mode's rule
  random_mode_ = random;
  view_.ShowPlayMode(random_mode_);
}

void PlaybackController::SetVolume(int hundredths_db) {
  try {
    chain_.SoundOut1.SetVolume(hundredths_db);
  } catch (const std::exception& error) {
    view_.ShowError(error.what());
  }
}

void PlaybackController::Close() {
  closing_ = true;
  CancelPendingStart();
  ForgetPreparedSong();
  // Synchronous: the output's thread has ended before the components are destroyed.
  chain_.SoundOut1.Stop(false);
}

// --- Auto-advance ------------------------------------------------------------------------------

void PlaybackController::OnSongEnded() {
  if (closing_)
    return;
  NoteReconnecting(false);
  RefreshPlaybackState();
  const int count = static_cast<int>(my_list_.MyList().size());
  if (count == 0) {
    NoteTitle();
    return;
  }
  // A song that produced no audio failed, however it ended: a stalled open ends without a
  // message, and an empty stream ends "cleanly". So did one whose stream was cut short (a drop
  // not ridden out): the output saw a clean end, but the user heard the song stop early.
  const std::string error = chain_.SoundOut1.ErrorMessage();
  const std::string cut_short = chain_.MediaStreamIn1.Failure();
  const bool played = chain_.SpectrumAnalyser1.Position() > 0;
  const bool failed = !error.empty() || !played || !cut_short.empty();
  const std::string song_name = loaded_ ? loaded_->name : std::string();
  if (failed) {
    ++failed_songs_;
    last_failure_ = !error.empty() ? error : !cut_short.empty() ? cut_short : kNoAudioMessage;
  } else {
    failed_songs_ = 0;
    ClearCutShortNotice();  // it was about the song before this one
  }
  if (failed_songs_ >= std::max(count, kMinFailuresToStop)) {
    // A whole round failed (no network to the streams, a broken site): going on would only
    // hammer the site. Stop and say why.
    SetNotice({PlaybackNotice::Kind::kStopped, song_name, last_failure_, failed_songs_});
    failed_songs_ = 0;
    view_.ShowError(last_failure_);
    NoteTitle();
    return;
  }
  if (played && error.empty() && !cut_short.empty())
    SetNotice({PlaybackNotice::Kind::kCutShort, song_name, cut_short, 0});
  view_.SetProgress(0);
  if (prepared_ && played) {  // prepared near the end of a song that played, cut short or not
    AdvanceToPreparedSong();
    return;
  }
  DropPreparedSong();
  my_list_.SetCurrentIndex(NextAdvanceIndex());
  if (failed)
    PlayCurrentAfterSpacing();
  else
    PlayCurrent();
}

int PlaybackController::NextAdvanceIndex() {
  const int count = static_cast<int>(my_list_.MyList().size());
  if (random_mode_) {
    std::uniform_int_distribution<int> draw(0, count - 1);
    return draw(random_);
  }
  return (my_list_.CurrentIndex() + 1) % count;
}

// --- The prepared next song --------------------------------------------------------------------

void PlaybackController::PrepareNextSongIfDue() {
  // Only for the song the play list's current entry names: while another entry's page loads
  // (a double click), what follows is that entry's business.
  const TMyListDj* current = my_list_.Current();
  if (timing_.prepare_ahead.count() == 0 || prepared_ || closing_ || !loaded_ ||
      current == nullptr || current->id != loaded_->id || State() != PlaybackState::kPlaying)
    return;
  TMediaStreamIn& stream = chain_.MediaStreamIn1;
  const std::int64_t total = stream.Duration();
  const std::uint32_t elapsed =
      ElapsedSeconds(total, chain_.SpectrumAnalyser1.Position(), stream.Size());
  const bool near_end = total > 0 && elapsed + timing_.prepare_ahead.count() >= total;
  if (!near_end && !stream.AtEnd())
    return;
  const int index = NextAdvanceIndex();
  prepared_ = PreparedSong{index, my_list_.MyList()[static_cast<std::size_t>(index)], {}, {}};
  if (prepared_->song.id == loaded_->id) {
    // The same song again (a one-song list, a random draw): its stream is the one loaded, as
    // Play replays it.
    prepared_->page = PlayPage{true, stream.FileName(), {}};
    return;
  }
  // Read from a timer rather than inside the analyser's tick, whose caller does not expect a
  // nested event loop.
  prepare_timer_ = main_thread_.StartTimer(std::chrono::milliseconds(0), [this] {
    main_thread_.StopTimer(prepare_timer_);
    prepare_timer_ = 0;
    LoadPreparedSong();
  });
}

void PlaybackController::LoadPreparedSong() {
  if (!prepared_)
    return;
  const std::uint64_t generation = prepared_generation_;
  PlayPage page = pages_.LoadPlayPage(PlayPageAddress(catalogue_host_, prepared_->song.id));
  if (closing_ || !prepared_ || generation != prepared_generation_)
    return;  // dropped while its page loaded
  prepared_->page = std::move(page);
  if (prepared_->advance)
    StartPreparedSong();
}

void PlaybackController::AdvanceToPreparedSong() {
  my_list_.SetCurrentIndex(prepared_->index);
  // As any play request: it supersedes one still loading, and while nothing plays the title
  // follows the entry asked for at once.
  prepared_->advance = play_loads_.Begin();
  NoteTitle();
  if (prepared_->page)
    StartPreparedSong();
}

void PlaybackController::StartPreparedSong() {
  PreparedSong prepared = std::move(*prepared_);
  prepared_.reset();
  ++prepared_generation_;
  if (prepared.advance && !play_loads_.IsLatest(*prepared.advance))
    return;  // a newer play request began while the page loaded
  StartResolved(prepared.song, std::move(*prepared.page));
}

void PlaybackController::ForgetPreparedSong() {
  if (prepared_)
    prepared_->advance.reset();
  DropPreparedSong();
}

void PlaybackController::DropPreparedSong() {
  if (!prepared_ || prepared_->advance)
    return;  // none; or the song ended and its advance waits for this page as its own
  prepared_.reset();
  ++prepared_generation_;
  if (prepare_timer_ != 0) {
    main_thread_.StopTimer(prepare_timer_);
    prepare_timer_ = 0;
  }
}

void PlaybackController::PlayCurrentAfterSpacing() {
  const auto since = std::chrono::steady_clock::now() - last_start_;
  if (since >= timing_.failed_song_spacing) {
    PlayCurrent();
    return;
  }
  NoteTitle();
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(timing_.failed_song_spacing - since);
  pending_start_ = main_thread_.StartTimer(wait, [this] {
    CancelPendingStart();
    PlayCurrent();
  });
}

void PlaybackController::CancelPendingStart() {
  if (pending_start_ == 0)
    return;
  main_thread_.StopTimer(pending_start_);
  pending_start_ = 0;
}

// --- The display -------------------------------------------------------------------------------

void PlaybackController::OnGainTick() {
  if (closing_)
    return;  // the chain is being torn down
  view_.SetProgress(chain_.SoundOut1.Progress());
  // Elapsed is measured where the output takes the audio (the analyser's position), not where
  // the source reads: the cache reads up to half a minute ahead of what is heard. Both count
  // bytes of the same PCM, so the source's size still gives the proportion.
  TimeTexts texts =
      ComputeTimeTexts(chain_.MediaStreamIn1.Duration(), chain_.SpectrumAnalyser1.Position(),
                       chain_.MediaStreamIn1.Size());
  elapsed_text_ = std::move(texts.elapsed);
  total_text_ = std::move(texts.total);
  view_.RefreshDisplay();
  PrepareNextSongIfDue();
}

void PlaybackController::RefreshPlaybackState() {
  const PlaybackState state = State();
  if (state == shown_state_)
    return;
  shown_state_ = state;
  view_.ShowPlaybackState(state);
  for (PlayerObserver* observer : Observers())
    observer->PlaybackStateChanged(state);
  NoteTitle();
}

void PlaybackController::OnReconnect() {
  if (closing_)
    return;
  // Read now rather than carried by the event: a late event of a stream since closed shows
  // the state of the one open.
  NoteReconnecting(chain_.MediaStreamIn1.Reconnecting() && State() != PlaybackState::kIdle);
}

void PlaybackController::OnNetworkBack() {
  if (!closing_)
    chain_.MediaStreamIn1.RetryNow();
}

void PlaybackController::NoteReconnecting(bool reconnecting) {
  if (reconnecting == reconnecting_)
    return;
  reconnecting_ = reconnecting;
  view_.ShowReconnecting(reconnecting_);
  view_.RefreshDisplay();
}

void PlaybackController::OnPlayListChanged() {
  DropPreparedSong();  // its entry may have moved or gone
  NoteTitle();
}

std::optional<TMyListDj> PlaybackController::TitleSong() const {
  if (loaded_ && State() != PlaybackState::kIdle)
    return loaded_;
  if (const TMyListDj* entry = my_list_.Current())
    return *entry;
  return std::nullopt;
}

int PlaybackController::TitleEntry() const {
  const TMyListDj* current = my_list_.Current();
  if (!loaded_ || State() == PlaybackState::kIdle || (current && current->id == loaded_->id))
    return current ? my_list_.CurrentIndex() : -1;
  const TarrMyListDj& entries = my_list_.MyList();
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].id == loaded_->id)
      return static_cast<int>(i);
  return -1;
}

DisplayLine PlaybackController::Display() const {
  DisplayLine line;
  line.song = TitleSong();
  if (line.song && loaded_ && line.song->id == loaded_->id) {
    line.elapsed = elapsed_text_;
    line.total = total_text_;
    line.reconnecting = reconnecting_;
  }
  return line;
}

void PlaybackController::NoteTitle() {
  std::optional<TMyListDj> title = TitleSong();
  if (title == shown_title_)
    return;
  shown_title_ = std::move(title);
  view_.RefreshDisplay();
  for (PlayerObserver* observer : Observers())
    observer->TitleChanged();
}

void PlaybackController::ClearCutShortNotice() {
  if (notice_.kind == PlaybackNotice::Kind::kCutShort)
    SetNotice({});
}

void PlaybackController::SetNotice(PlaybackNotice notice) {
  if (notice == notice_)
    return;
  notice_ = std::move(notice);
  view_.ShowNotice(notice_);
}

}  // namespace djkivo::app
