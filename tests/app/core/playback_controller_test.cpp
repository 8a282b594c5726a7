// Playback through the real chain on the null device: starting songs, auto-advance and its
// failure guard, the spacing after failed songs, and which song the title, the times and Play
// name while play pages load or fail.
#include "app/core/playback_controller.h"

#include <algorithm>

#include "tests/app/core/player_fixture.h"
#include "tests/support/poll.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;
using test::PlayerTest;
using test::TestSong;

using PlaybackTest = PlayerTest;

/// Songs of 20 seconds and more, for tests that must not see a song end.
class LongSongTest : public PlayerTest {
 protected:
  demo::SongLength Length() const override { return demo::SongLength::kNormal; }
};

/// Failed songs follow each other only after a long spacing, so a test sees one failure at a
/// time.
class SlowRetryTest : public PlayerTest {
 protected:
  PlaybackTiming Timing() const override { return {std::chrono::seconds(30)}; }
};

// The fault: Play started the song, then read the output's state; a run that had failed by
// then was run a second time, giving two ends of song and a failure counted twice.
TEST_F(SlowRetryTest, PlayStartsASongOnceEvenWhenItsRunFailsAtOnce) {
  UsePlayList({NoStreamSong("1"), NoStreamSong("2")});
  struct WaitForTheRunToFail final : PlayerObserver {
    explicit WaitForTheRunToFail(TSoundOut& out) : out_(out) {}
    void SongStarted(const TMyListDj&) override {
      // The output's thread fails the run on its own; its end is queued for the main thread.
      djkivo::test::PollUntil([this] { return out_.Status() == OutputStatus::kIdle; }, 5s);
    }
    void PlaybackStateChanged(PlaybackState) override {}
    void TitleChanged() override {}
    TSoundOut& out_;
  } wait(chain_->SoundOut1);
  Playback().AddObserver(wait);
  Playback().Play();
  Playback().RemoveObserver(wait);
  ASSERT_TRUE(PumpUntil([&] { return done_ > 0; }));
  PumpFor(300ms);
  EXPECT_EQ(runs_.load(), 1);
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(Playback().FailedSongs(), 1);
  EXPECT_EQ(pages_.play_requests.size(), 1u);  // the next song waits for the spacing
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
  EXPECT_TRUE(view_.errors.empty());
}

// The fault: only a song that ended cleanly reset the count, so a song the user started after
// failures counted on top of them.
TEST_F(SlowRetryTest, ASongTheUserStartsEndsAFailingStreak) {
  UsePlayList({NoStreamSong("1"), NoStreamSong("2"), NoStreamSong("3")});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return Playback().FailedSongs() == 1; }));
  const struct {
    const char* command;
    std::function<void()> start;
  } kStarts[] = {
      {"next", [&] { Playback().NextSong(); }},
      {"previous", [&] { Playback().PreviousSong(); }},
      {"play an entry", [&] { Playback().PlayEntry(2); }},
  };
  for (const auto& c : kStarts) {
    SCOPED_TRACE(c.command);
    const int done = done_;
    c.start();
    EXPECT_EQ(Playback().FailedSongs(), 0);
    ASSERT_TRUE(PumpUntil([&] { return done_ > done; }));
    EXPECT_EQ(Playback().FailedSongs(), 1);
  }
  EXPECT_TRUE(view_.errors.empty());
}

// The fault: a one-song play list stopped at its first failure, without a second try.
TEST_F(PlaybackTest, AOneSongListIsTriedTwiceThenStopsAndSaysWhy) {
  const TestSong song = DemoSong(0, "404");
  UsePlayList({song});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return !view_.errors.empty(); }));
  PumpFor(500ms);  // nothing more happens
  EXPECT_EQ(PlayPageRequests(song.id), 2);
  EXPECT_EQ(done_, 2);
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_FALSE(view_.errors[0].empty());
  EXPECT_EQ(view_.notice,
            (PlaybackNotice{PlaybackNotice::Kind::kStopped, song.name, view_.errors[0], 2}));
  EXPECT_EQ(Playback().State(), PlaybackState::kIdle);
  EXPECT_EQ(Playback().FailedSongs(), 0);
}

// The fault: a stream that never sent a byte ended without an error message and was taken for
// a song that played, so a list of them cycled for ever without a word.
TEST_F(PlaybackTest, EverySongWithoutAudioCountsAndAWholeRoundOfThemStops) {
  chain_->MediaStreamIn1.SetMaxWaitMilliseconds(500);
  const std::vector<TestSong> songs = {DemoSong(0, "404"), NoStreamSong("900"),
                                       DemoSong(1, "truncate=0"), DemoSong(2, "stall=3600")};
  UsePlayList(songs);
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return !view_.errors.empty(); }, 30s));
  PumpFor(300ms);
  EXPECT_EQ(done_, 4);
  for (const TestSong& song : songs)
    EXPECT_EQ(PlayPageRequests(song.id), 1) << song.name;
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kStopped);
  EXPECT_EQ(view_.notice.failed_songs, 4);
  EXPECT_EQ(view_.notice.song_name, songs[3].name);
  EXPECT_FALSE(view_.notice.reason.empty());  // a stalled open says at least that no audio came
  EXPECT_EQ(view_.errors, (std::vector<std::string>{view_.notice.reason}));
}

// The fault: with every stream failing at once, songs were started hundreds of times a second.
TEST_F(PlaybackTest, SongsAfterAFailureStartNoFasterThanTheSpacing) {
  UsePlayList({DemoSong(0, "404"), DemoSong(1, "404"), DemoSong(2, "404"), DemoSong(3, "404")});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return !view_.errors.empty(); }, 30s));
  ASSERT_EQ(play_times_.size(), 4u);
  for (std::size_t i = 1; i < play_times_.size(); ++i)
    EXPECT_GE(play_times_[i] - play_times_[i - 1], Timing().failed_song_spacing) << i;
}

TEST_F(PlaybackTest, ASongThatPlaysEndsTheStreakAndAdvanceGoesOnInOrder) {
  const std::vector<TestSong> songs = {NoStreamSong("1"), DemoSong(0), NoStreamSong("2")};
  UsePlayList(songs);
  Playback().Play();
  // 1 fails, 0 plays to its end, 2 fails, 1 fails: the streak is two, not three, so it goes on.
  ASSERT_TRUE(PumpUntil([&] { return PlayPageRequests(songs[1].id) == 2; }, 30s));
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_EQ(PlayPageRequests(songs[0].id), 2);
  EXPECT_EQ(PlayPageRequests(songs[2].id), 1);
  EXPECT_EQ(observer_.events.front(), "title");  // entry 0 named before its page loaded
}

// The fault: after a failed advance the title named the next entry while Play ran the old
// stream again from its start.
TEST_F(PlaybackTest, AFailedAdvanceSaysSoAndPlayStartsTheSongTheTitleNames) {
  const TestSong first = DemoSong(0);
  const TestSong next = GoneSong("901");
  UsePlayList({first, next});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return done_ == 1; }));
  PumpFor(300ms);
  EXPECT_EQ(PlayPageRequests(next.id), 1);  // read ahead, and not again at the advance
  EXPECT_EQ(view_.notice, (PlaybackNotice{PlaybackNotice::Kind::kPlayPageFailed, next.name,
                                          "HTTP/1.1 404 Not Found", 0}));
  EXPECT_EQ(Playback().State(), PlaybackState::kIdle);
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
  const DisplayLine line = Playback().Display();
  ASSERT_TRUE(line.song);
  EXPECT_EQ(line.song->id, next.id);
  EXPECT_TRUE(line.elapsed.empty());  // the times were the first song's
  EXPECT_TRUE(line.total.empty());

  const TestSong now_there = DemoSong(1);
  SetPage(next.id, now_there.page);
  Playback().Play();
  EXPECT_EQ(PlayPageRequests(next.id), 2);
  EXPECT_TRUE(Streams(now_there));
  EXPECT_EQ(Playback().Display().song->id, next.id);
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kNone);
}

// The fault: a stream cut short after some of it played (a drop the stream input did not ride
// out) ended "cleanly", so the song was taken for one that played through: nothing said why the
// mix stopped early, and a round of dead streams cycled for ever.
TEST_F(PlaybackTest, ASongCutShortSaysWhyAndCountsAsFailed) {
  chain_->MediaStreamIn1.SetReconnectTime(0ms);  // a drop ends the song at once
  const TestSong cut = DemoSong(0, "reset=6000");
  const TestSong whole = DemoSong(1);
  UsePlayList({cut, whole});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return done_ == 1; }));
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kCutShort);
  EXPECT_EQ(view_.notice.song_name, cut.name);
  EXPECT_TRUE(view_.notice.reason.starts_with("The stream ended early: ")) << view_.notice.reason;
  EXPECT_EQ(Playback().FailedSongs(), 1);
  // Auto-advance goes on, and the word stays while the next song plays...
  ASSERT_TRUE(PumpUntil([&] { return Streams(whole) && runs_ == 1 && done_ == 1; }));
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kCutShort);
  // ...until that one has played through.
  ASSERT_TRUE(PumpUntil([&] { return done_ == 2; }));
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kNone);
  EXPECT_EQ(Playback().FailedSongs(), 0);
  EXPECT_TRUE(view_.errors.empty());

  // A play list of nothing but such songs stops after a round, with the stream's reason.
  UsePlayList({cut});
  Playback().PlayEntry(0);
  ASSERT_TRUE(PumpUntil([&] { return !view_.errors.empty(); }));
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kStopped);
  EXPECT_EQ(view_.errors, (std::vector<std::string>{view_.notice.reason}));
  EXPECT_TRUE(view_.notice.reason.starts_with("The stream ended early: "));
}

// Play starts the entry the title names: after a first start that failed, that entry again,
// not the first of the list.
TEST_F(PlaybackTest, PlayAfterAFailedStartTriesTheSameEntry) {
  const std::vector<TestSong> songs = {DemoSong(0), GoneSong("903")};
  UsePlayList(songs);
  Playback().PlayEntry(1);
  ASSERT_EQ(Playback().Display().song->id, songs[1].id);
  Playback().Play();
  EXPECT_EQ(PlayPageRequests(songs[1].id), 2);
  EXPECT_EQ(PlayPageRequests(songs[0].id), 0);
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
}

TEST_F(LongSongTest, AnotherSongsTitleWaitsForItsStartAndAFailedStartKeepsThePlayingOne) {
  const std::vector<TestSong> songs = {DemoSong(0), DemoSong(1), GoneSong("902")};
  UsePlayList(songs);
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return !Playback().ElapsedText().empty(); }));
  EXPECT_EQ(observer_.events,
            (std::vector<std::string>{"title", "playing", "started " + songs[0].id}));

  // While entry 1's play page loads, the title, the times and the state are still entry 0's.
  std::optional<DisplayLine> during;
  PlaybackState state_during = PlaybackState::kIdle;
  pages_.while_loading = [&] {
    during = Playback().Display();
    state_during = Playback().State();
  };
  const int refreshes = view_.refreshes;
  Playback().PlayEntry(1);
  ASSERT_TRUE(during && during->song);
  EXPECT_EQ(during->song->id, songs[0].id);
  EXPECT_FALSE(during->total.empty());
  EXPECT_EQ(state_during, PlaybackState::kPlaying);
  EXPECT_EQ(Playback().Display().song->id, songs[1].id);
  EXPECT_TRUE(Streams(songs[1]));
  EXPECT_GT(view_.refreshes, refreshes);
  EXPECT_EQ(observer_.events.back(), "started " + songs[1].id);

  // A play page that cannot be read starts nothing: entry 1 plays on under its own title.
  ASSERT_TRUE(PumpUntil([&] { return !Playback().TotalText().empty(); }));
  observer_.events.clear();
  Playback().PlayEntry(2);
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 2);
  EXPECT_EQ(Playback().State(), PlaybackState::kPlaying);
  EXPECT_TRUE(Streams(songs[1]));
  EXPECT_EQ(Playback().Display().song->id, songs[1].id);
  EXPECT_FALSE(Playback().Display().total.empty());
  EXPECT_EQ(view_.notice.kind, PlaybackNotice::Kind::kPlayPageFailed);
  EXPECT_EQ(view_.notice.song_name, songs[2].name);
  EXPECT_TRUE(observer_.events.empty());
}

TEST_F(LongSongTest, PauseResumeAndPlayWhilePlaying) {
  const TestSong song = DemoSong(0);
  UsePlayList({song});
  Playback().TogglePlayPause();  // idle: plays
  ASSERT_TRUE(PumpUntil([&] { return !Playback().ElapsedText().empty(); }));
  EXPECT_EQ(view_.playback_state, PlaybackState::kPlaying);

  Playback().TogglePlayPause();
  EXPECT_EQ(Playback().State(), PlaybackState::kPaused);
  EXPECT_EQ(view_.playback_state, PlaybackState::kPaused);
  Playback().Play();  // paused: resumes the same run
  EXPECT_EQ(Playback().State(), PlaybackState::kPlaying);
  Playback().Play();  // playing: nothing
  EXPECT_EQ(PlayPageRequests(song.id), 1);
  EXPECT_EQ(runs_.load(), 0);
  EXPECT_EQ(observer_.events, (std::vector<std::string>{"title", "playing", "started " + song.id,
                                                        "paused", "playing"}));

  // Stopped from outside (as closing does): Play starts the loaded stream again, no page read.
  chain_->SoundOut1.Stop(false);
  Playback().Play();
  EXPECT_EQ(Playback().State(), PlaybackState::kPlaying);
  EXPECT_EQ(PlayPageRequests(song.id), 1);
  EXPECT_TRUE(Streams(song));
}

TEST_F(PlaybackTest, EmptyPlayListCommandsDoNothing) {
  Playback().Play();
  Playback().NextSong();
  Playback().PreviousSong();
  Playback().OnSongEnded();
  Playback().TogglePlayPause();
  EXPECT_TRUE(pages_.play_requests.empty());
  EXPECT_EQ(controller_->MyList().CurrentIndex(), -1);
  EXPECT_FALSE(Playback().Display().song);
  EXPECT_TRUE(view_.errors.empty());
}

TEST_F(PlaybackTest, NothingStartsAfterClose) {
  UsePlayList({DemoSong(0, "404"), DemoSong(1, "404")});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return done_ == 1; }));
  controller_->Close();  // with the next start waiting for its spacing
  PumpFor(2 * Timing().failed_song_spacing);
  Playback().OnSongEnded();
  EXPECT_EQ(pages_.play_requests.size(), 1u);
  EXPECT_EQ(Playback().State(), PlaybackState::kIdle);
}

// The next song's play page is read while the playing one plays out (short songs are near their
// end at once), so auto-advance starts the next stream without a page load of its own. The log
// holds "ahead ID" for a play page read while a song played, "page ID" for one read while none
// did, and "started ID".
class PreparedSongTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    pages_.play_answer = [this, answer = pages_.play_answer](const std::string& address) {
      const bool playing = Playback().State() == PlaybackState::kPlaying;
      const std::size_t name = address.rfind('/') + 1;
      log_.push_back((playing ? "ahead " : "page ") +
                     address.substr(name, address.rfind(".html") - name));
      return answer(address);
    };
    struct Starts final : PlayerObserver {
      explicit Starts(std::vector<std::string>& log) : log_(log) {}
      void SongStarted(const TMyListDj& song) override { log_.push_back("started " + song.id); }
      void PlaybackStateChanged(PlaybackState) override {}
      void TitleChanged() override {}
      std::vector<std::string>& log_;
    };
    starts_ = std::make_unique<Starts>(log_);
    Playback().AddObserver(*starts_);
  }
  void TearDown() override {
    Playback().RemoveObserver(*starts_);
    PlayerTest::TearDown();
  }

  int Started() const {
    return static_cast<int>(std::count_if(
        log_.begin(), log_.end(), [](const std::string& e) { return e.starts_with("started "); }));
  }
  /// Demo songs 0 to `count - 1`.
  std::vector<TestSong> Songs(int count) const {
    std::vector<TestSong> songs;
    for (int i = 0; i < count; ++i)
      songs.push_back(DemoSong(i));
    return songs;
  }

  std::vector<std::string> log_;
  std::unique_ptr<PlayerObserver> starts_;
};

TEST_F(PreparedSongTest, TheNextSongsPageIsReadAheadAndItsStreamStartsWithoutALoad) {
  const std::vector<TestSong> songs = Songs(3);
  UsePlayList(songs);
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return Started() == 3; }, 30s));
  const std::vector<std::string> expected = {
      "page " + songs[0].id,    "started " + songs[0].id, "ahead " + songs[1].id,
      "started " + songs[1].id, "ahead " + songs[2].id,   "started " + songs[2].id,
  };
  EXPECT_EQ(std::vector<std::string>(log_.begin(), log_.begin() + 6), expected);
  EXPECT_TRUE(view_.errors.empty());
}

// A song that follows itself (a one-song list) plays its loaded stream again, as Play does.
TEST_F(PreparedSongTest, ASongThatFollowsItselfIsNotReadAgain) {
  const TestSong song = DemoSong(0);
  UsePlayList({song});
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return Started() == 3; }, 30s));
  EXPECT_EQ(std::vector<std::string>(log_.begin(), log_.begin() + 4),
            (std::vector<std::string>{"page " + song.id, "started " + song.id, "started " + song.id,
                                      "started " + song.id}));
}

// In random mode the next song is drawn when its page is read ahead, and that draw plays.
TEST_F(PreparedSongTest, InRandomModeTheSongDrawnAheadIsTheOneThatPlays) {
  UsePlayList(Songs(4));
  Playback().SetRandomMode(true);
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return Started() == 6; }, 60s));
  std::string ahead;
  for (const std::string& entry : log_) {
    if (entry.starts_with("ahead ")) {
      ahead = entry.substr(6);
    } else if (entry.starts_with("page ")) {
      ahead.clear();
    } else if (!ahead.empty()) {
      EXPECT_EQ(entry, "started " + ahead);
    }
  }
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const std::string& e) { return e.starts_with("page "); }),
            1);
}

// A change of the play list or of the mode drops the prepared song, whether its page is still
// loading or already in: what plays next is the entry next after the change, its page read after
// the change, and the play list file holds what the change left.
struct PreparedSongChange {
  const char* name;
  bool inside_the_load;
  void (*apply)(PlayerController&);
  int next;  // the demo song that plays next; -1 for none
};

void DeleteTheNextEntry(PlayerController& c) {
  c.ShowPlayList();
  c.DeleteEntry(1);
}
void ClearTheList(PlayerController& c) {
  c.ShowPlayList();
  c.ClearPlayList();
}
// Both changes drop the song; sequential again, the same entry is prepared anew. (A change
// into random mode alone would leave the next song to chance.)
void ChooseRandomThenSequential(PlayerController& c) {
  c.Playback().SetRandomMode(true);
  c.Playback().SetRandomMode(false);
}

const PreparedSongChange kPreparedSongChanges[] = {
    {"NextEntryDeletedWhileItLoads", true, DeleteTheNextEntry, 2},
    {"NextEntryDeletedOnceIn", false, DeleteTheNextEntry, 2},
    {"ListCleared", false, ClearTheList, -1},
    {"ModeChangedWhileItLoads", true, ChooseRandomThenSequential, 1},
    {"ModeChangedOnceIn", false, ChooseRandomThenSequential, 1},
};

class PreparedSongChangeTest : public PreparedSongTest,
                               public ::testing::WithParamInterface<PreparedSongChange> {};

TEST_P(PreparedSongChangeTest, DropsThePreparedSong) {
  const PreparedSongChange& c = GetParam();
  const std::vector<TestSong> songs = Songs(3);
  UsePlayList(songs);
  // Paused inside the read-ahead load (the second load), so the song cannot end before the
  // change.
  pages_.while_loading = [&] {
    pages_.while_loading = [&] {
      Playback().Pause();
      if (c.inside_the_load)
        c.apply(*controller_);
    };
  };
  Playback().PlayEntry(0);
  ASSERT_EQ(Playback().State(), PlaybackState::kPlaying);
  ASSERT_TRUE(PumpUntil([&] { return Playback().State() == PlaybackState::kPaused; }));
  if (!c.inside_the_load)
    c.apply(*controller_);
  const std::size_t changed = log_.size();
  const std::string bytes = djkivo::test::ReadFileBytes(PlayListPath());
  Playback().Play();
  if (c.next < 0) {
    ASSERT_TRUE(PumpUntil([&] { return Playback().State() == PlaybackState::kIdle; }));
    PumpFor(300ms);
    EXPECT_EQ(log_.size(), changed) << "nothing more is read or started";
  } else {
    ASSERT_TRUE(PumpUntil([&] { return Started() == 2; }, 30s));
    const std::string next = songs[static_cast<std::size_t>(c.next)].id;
    EXPECT_EQ(log_.back(), "started " + next);
    EXPECT_NE(
        std::find(log_.begin() + static_cast<std::ptrdiff_t>(changed), log_.end(), "ahead " + next),
        log_.end())
        << "its page is read after the change";
  }
  EXPECT_EQ(djkivo::test::ReadFileBytes(PlayListPath()), bytes);
  EXPECT_TRUE(view_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, PreparedSongChangeTest, ::testing::ValuesIn(kPreparedSongChanges),
                         [](const auto& change) { return std::string(change.param.name); });

// A song the user starts while the next one's page is read ahead wins over it. (The log notes
// a page as it answers: the user's page, read inside the read-ahead load, comes first, and as
// the first song still plays it shows as "ahead" too.)
TEST_F(PreparedSongTest, ASongTheUserStartsDuringTheReadAheadWins) {
  const std::vector<TestSong> songs = Songs(3);
  UsePlayList(songs);
  pages_.while_loading = [&] { pages_.while_loading = [&] { Playback().PlayEntry(2); }; };
  Playback().Play();
  ASSERT_TRUE(PumpUntil([&] { return Started() == 3; }, 30s));
  EXPECT_EQ(std::vector<std::string>(log_.begin(), log_.begin() + 7),
            (std::vector<std::string>{"page " + songs[0].id, "started " + songs[0].id,
                                      "ahead " + songs[2].id, "started " + songs[2].id,
                                      "ahead " + songs[1].id, "ahead " + songs[0].id,
                                      "started " + songs[0].id}));
}

}  // namespace
}  // namespace djkivo::app
