// Playing from the window: the double click, the playback commands, auto-advance, failing
// play pages, the display texts and closing, through the real chain on the null device.
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "app/core/player_controller.h"
#include "app/core/time_display.h"
#include "app/paint_panel.h"
#include "app/status_panel.h"
#include "demo/faults.h"
#include "demo/http_server.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

// Song ids the front server answers itself: a play page without the script, and none at all.
const std::string kNoScriptId = "900001";
const std::string kGoneId = "900002";
// And a play page that answers only after a while, with the play page of demo song 2.
const std::string kSlowId = "900003";
constexpr std::chrono::milliseconds kSlowPage{1500};

/// The window talks to a front server that answers the two special play pages and sends
/// every other request on to the demo site.
class PlaybackTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    front_ = std::make_unique<demo::HttpServer>([this](const demo::HttpRequest& request) {
      demo::HttpResponse response;
      if (request.target == "/dance/play/" + kNoScriptId + ".html") {
        response.body = "<html><body>This song was taken down.</body></html>";
      } else if (request.target == "/dance/play/" + kGoneId + ".html") {
        response.status = 404;
        response.reason = "Not Found";
      } else if (request.target == "/dance/play/" + kSlowId + ".html") {
        front_->WaitForStop(kSlowPage);
        response.status = 302;
        response.reason = "Found";
        response.headers.emplace_back("Location",
                                      site_->BaseAddress() + "/dance/play/" + Song(2).id + ".html");
      } else {
        response.status = 302;
        response.reason = "Found";
        response.headers.emplace_back("Location", site_->BaseAddress() + request.target);
      }
      return response;
    });
    front_->Start(0);
  }

  void TearDown() override {
    WindowTest::TearDown();
    front_.reset();
  }

  std::string CatalogueHost() const override {
    return "127.0.0.1:" + std::to_string(front_->Port());
  }

  const demo::DemoSong& Song(int i) const { return site_->Catalogue().Songs()[i]; }
  std::string Line(const std::string& name, const std::string& id) const {
    return name + "|uploader|" + id + "\r\n";
  }
  int PlayPageRequests(const std::string& id) const {
    return site_->RequestCount("/dance/play/" + id + ".html");
  }
  bool WaitForStatus(OutputStatus status) {
    return WaitFor([&] { return form_->SoundOut1->Status() == status; });
  }
  std::string FileName() const { return form_->MediaStreamIn1->FileName(); }
  bool StreamOf(const demo::DemoSong& song) const {
    return FileName().find("/audio/" + song.id + ".") != std::string::npos;
  }

  std::unique_ptr<demo::HttpServer> front_;
};

/// Songs of 20 seconds and more, for tests that must not see a song end.
class LongSongTest : public PlaybackTest {
 protected:
  demo::SongLength SongLength() const override { return demo::SongLength::kNormal; }
};

TEST_F(PlaybackTest, DoubleClickAddsSavesAndPlaysAndAListedSongIsNotAddedTwice) {
  TForm1& form = MakeForm();
  ClickCategory(1);
  const std::string id0 = RowBytes(0, 2);
  const std::string line0 = RowBytes(0, 0) + "|" + RowBytes(0, 1) + "|" + id0 + "\r\n";
  DoubleClickRow(0);
  ASSERT_EQ(form.MyList().MyList().size(), 1u);
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(ReadPlayList(), line0);
  EXPECT_EQ(PlayPageRequests(id0), 1);
  EXPECT_TRUE(WaitForStatus(kPlaying));
  EXPECT_NE(FileName().find("/audio/" + id0 + "."), std::string::npos) << FileName();

  // Already listed: played again from its entry, no second entry and no write.
  std::filesystem::remove(PlayListPath());
  DoubleClickRow(0);
  EXPECT_EQ(form.MyList().MyList().size(), 1u);
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_FALSE(std::filesystem::exists(PlayListPath()));
  EXPECT_EQ(PlayPageRequests(id0), 2);

  DoubleClickRow(1);
  EXPECT_EQ(form.MyList().MyList().size(), 2u);
  EXPECT_EQ(form.CurrentIndex(), 1);
  EXPECT_EQ(ReadPlayList(),
            line0 + RowBytes(1, 0) + "|" + RowBytes(1, 1) + "|" + RowBytes(1, 2) + "\r\n");

  // Entry 0 follows entry 1: its page is read ahead while entry 1 plays (or, had entry 1
  // failed, at the advance).
  ASSERT_TRUE(WaitFor([&] { return PlayPageRequests(id0) == 3; }));

  // In the play list view a double click plays the row's entry (its page read again), and the
  // row is highlighted.
  ClickCategory(5);
  EXPECT_EQ(form.SkinListView1->selectionModel()->selectedRows().value(0).row(), 1);
  DoubleClickRow(0);
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(form.MyList().MyList().size(), 2u);
  EXPECT_EQ(PlayPageRequests(id0), 4);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PlaybackTest, PlayWithAnEmptyPlayListDoesNothing) {
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  form.SkinButton2Click();
  form.SkinButton1Click();
  form.SoundOut1Done();
  EXPECT_EQ(site_->TotalRequests(), 0);
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
}

TEST_F(PlaybackTest, NextWrapsAndPreviousStopsAtTheFirstEntry) {
  WritePlayList(Line("a", Song(0).id) + Line("b", Song(1).id) + Line("c", Song(2).id));
  TForm1& form = MakeForm();
  const struct {
    void (TForm1::*command)();
    int index;
  } steps[] = {
      {&TForm1::SkinButton1Click, 0},  // from -1, Previous plays entry 0
      {&TForm1::SkinButton1Click, 0},  // on entry 0 it plays entry 0 again
      {&TForm1::SkinButton2Click, 1}, {&TForm1::N5Click, 2},
      {&TForm1::SkinButton2Click, 0},  // after the last comes the first
      {&TForm1::N2Click, 0},
  };
  // Each command reads its entry's play page once (a page read ahead for the song after the
  // playing one is read before the command, or dropped by it).
  for (const auto& step : steps) {
    const int before = PlayPageRequests(Song(step.index).id);
    (form.*step.command)();
    EXPECT_EQ(form.CurrentIndex(), step.index);
    EXPECT_EQ(PlayPageRequests(Song(step.index).id), before + 1);
  }

  form.SkinButton4Click();  // random mode: Next still goes to the following entry
  form.SkinButton2Click();
  EXPECT_EQ(form.CurrentIndex(), 1);
}

TEST_F(PlaybackTest, SequentialModePlaysThroughTheListAndWraps) {
  WritePlayList(Line("a", Song(0).id) + Line("b", Song(1).id) + Line("c", Song(2).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();  // a fresh start plays entry 0
  EXPECT_EQ(form.CurrentIndex(), 0);
  for (int next : {1, 2, 0})
    ASSERT_TRUE(WaitFor([&] { return form.CurrentIndex() == next; }, 20s)) << next;
  EXPECT_GE(PlayPageRequests(Song(0).id), 2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PlaybackTest, RandomModeDrawsAnEntryAtEachEnd) {
  WritePlayList(Line("a", Song(0).id) + Line("b", Song(1).id) + Line("c", Song(2).id));
  TForm1& form = MakeForm();
  QTest::mouseClick(form.SkinButton4, Qt::LeftButton);
  form.PlayButtonClick();
  auto play_pages = [&] {
    int total = 0;
    for (int i = 0; i < 3; ++i)
      total += PlayPageRequests(Song(i).id);
    return total;
  };
  ASSERT_TRUE(WaitFor([&] { return play_pages() >= 4; }, 30s));
  EXPECT_GE(form.CurrentIndex(), 0);
  EXPECT_LT(form.CurrentIndex(), 3);
}

TEST_F(PlaybackTest, AfterClearTheSongPlaysToItsEndAndNothingFollows) {
  WritePlayList(Line("a", Song(0).id) + Line("b", Song(1).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitForStatus(kPlaying));
  ClickCategory(5);
  form.N1Click();
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
  ASSERT_TRUE(WaitForStatus(kIdle));
  ProcessEventsUntil([] { return false; }, 300ms);
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_EQ(PlayPageRequests(Song(1).id), 0);
}

TEST_F(PlaybackTest, APlayPageWithoutTheScriptMovesOnToTheNextSong) {
  WritePlayList(Line("gone", kNoScriptId) + Line("a", Song(0).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitFor([&] { return form.CurrentIndex() == 1 && StreamOf(Song(0)); }));
  EXPECT_TRUE(errors_.empty());  // no message for a song that cannot be opened
}

TEST_F(PlaybackTest, AWholeRoundOfFailingSongsStopsWithTheLastError) {
  WritePlayList(Line("x", kNoScriptId) + Line("y", kNoScriptId) + Line("z", kNoScriptId));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
  ProcessEventsUntil([] { return false; }, 300ms);  // nothing more happens
  EXPECT_EQ(errors_, (std::vector<std::string>{"The file name is not assigned"}));
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
}

TEST_F(LongSongTest, ASlowPlayPageDoesNotReplaceTheSongAskedForAfterIt) {
  WritePlayList(Line("slow", kSlowId) + Line("a", Song(0).id));
  TForm1& form = MakeForm();
  QTimer::singleShot(300, &form, [&] { form.SkinButton2Click(); });  // while entry 0 loads
  form.PlayButtonClick();                      // returns once both play pages have been read
  EXPECT_EQ(PlayPageRequests(Song(2).id), 1);  // the slow page did arrive...
  EXPECT_EQ(form.CurrentIndex(), 1);
  EXPECT_TRUE(StreamOf(Song(0))) << FileName();  // ...and was dropped
  EXPECT_TRUE(WaitForStatus(kPlaying));
}

TEST_F(LongSongTest, AnUnreadablePlayPageLeavesTheCurrentSongPlaying) {
  WritePlayList(Line("a", Song(0).id) + Line("gone", kGoneId));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitForStatus(kPlaying));
  ASSERT_TRUE(StreamOf(Song(0)));
  form.SkinButton2Click();
  EXPECT_EQ(form.CurrentIndex(), 1);
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
  EXPECT_TRUE(StreamOf(Song(0)));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(LongSongTest, AFailedStartSaysSoOnTheStatusLineUnderThePlayingSongsTitle) {
  WritePlayList(Line("a", Song(0).id) + Line("gone", kGoneId));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitForStatus(kPlaying));
  EXPECT_TRUE(form.SkinStatusPanel1->text().isEmpty());
  form.SkinButton2Click();
  EXPECT_EQ(form.SkinStatusPanel1->text().toStdString(),
            "无法播放《gone》：HTTP/1.1 404 Not Found");
  const DisplayLine line = form.Controller().Playback().Display();
  ASSERT_TRUE(line.song);
  EXPECT_EQ(line.song->name, "a");
  form.SkinButton1Click();  // the next song that starts clears it
  EXPECT_TRUE(form.SkinStatusPanel1->text().isEmpty());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PlaybackTest, AWholeRoundOfFailuresSaysWhyOnTheStatusLine) {
  WritePlayList(Line("x", kNoScriptId) + Line("y", kNoScriptId));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
  EXPECT_EQ(form.SkinStatusPanel1->text().toStdString(),
            "连续 2 首歌曲无法播放，已停止：The file name is not assigned");
}

/// Streams whose drops are not ridden out: a cut ends the song.
class NoReconnectTest : public PlaybackTest {
 protected:
  void Configure(TForm1Config& config) override { config.reconnect_minutes = 0; }
};

TEST_F(NoReconnectTest, ASongCutShortSaysSoOnTheStatusLine) {
  site_->SetStreamFaults(demo::ParseFaults("reset=6000"));
  WritePlayList(Line("a", Song(0).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  const auto status = [&form] { return form.SkinStatusPanel1->text().toStdString(); };
  ASSERT_TRUE(WaitFor([&] { return status().starts_with("《a》未能播完："); })) << status();
  EXPECT_NE(status().find("The stream ended early: "), std::string::npos) << status();
  // Tried once more, then stopped with the same reason.
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
  EXPECT_TRUE(status().starts_with("连续 2 首歌曲无法播放，已停止：The stream ended early: "))
      << status();
}

TEST_F(LongSongTest, PauseResumeAndTheButtonSwap) {
  WritePlayList(Line("a", Song(0).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitForStatus(kPlaying));
  EXPECT_TRUE(
      WaitFor([&] { return form.PauseButton->isVisible() && form.PlayButton->isHidden(); }));
  ASSERT_TRUE(WaitFor([&] { return !form.ElapsedText().empty(); }));  // audio is flowing

  QTest::mouseClick(form.PauseButton, Qt::LeftButton);
  EXPECT_EQ(form.SoundOut1->Status(), kPaused);
  EXPECT_TRUE(
      WaitFor([&] { return form.PlayButton->isVisible() && form.PauseButton->isHidden(); }));
  QTest::mouseClick(form.PlayButton, Qt::LeftButton);  // paused: resumes, no new request
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
  EXPECT_EQ(PlayPageRequests(Song(0).id), 1);

  form.N7Click();
  EXPECT_EQ(form.SoundOut1->Status(), kPaused);
  QTest::keyClick(&form, Qt::Key_Space);  // space toggles too
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
  form.PlayButtonClick();  // playing: nothing
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
  EXPECT_EQ(PlayPageRequests(Song(0).id), 1);

  ClickCategory(12);  // switching views never touches playback
  ClickCategory(5);
  EXPECT_EQ(form.SoundOut1->Status(), kPlaying);
}

TEST_F(LongSongTest, TheDisplayFollowsTheStream) {
  WritePlayList(Line("a", Song(0).id));
  TForm1& form = MakeForm();
  EXPECT_TRUE(form.ElapsedText().empty());
  EXPECT_TRUE(form.TotalText().empty());
  form.PlayButtonClick();
  ASSERT_TRUE(WaitFor([&] { return !form.TotalText().empty(); }));
  const auto total = static_cast<std::uint32_t>(form.MediaStreamIn1->TotalTime());
  EXPECT_NEAR(total, Song(0).seconds, 1.5);
  EXPECT_EQ(form.TotalText(), TimeText(total));
  EXPECT_EQ(form.ElapsedText().rfind("0:0", 0), 0u) << form.ElapsedText();
  ASSERT_TRUE(WaitFor([&] { return form.SkinTrackBar1->value() > 0; }));
  EXPECT_LE(form.SkinTrackBar1->value(), 100);

  // The cache reads far ahead of what is heard; the elapsed time follows what is heard.
  const std::int64_t size = form.MediaStreamIn1->Size();
  ASSERT_GT(size, 0);
  ASSERT_TRUE(WaitFor([&] { return form.MediaStreamIn1->Position() * total / size >= 10; }));
  form.SpectrumAnalyser1GainData();
  const std::string elapsed = form.ElapsedText();
  EXPECT_TRUE(elapsed == "0:00" || elapsed == "0:01" || elapsed == "0:02" || elapsed == "0:03")
      << elapsed;
  form.SkinPaintPanel1->grab();  // paints the spectrum, the times and the title
}

TEST_F(LongSongTest, ClosingWhilePlayingStopsTheOutputAtOnce) {
  WritePlayList(Line("a", Song(0).id));
  TForm1& form = MakeForm();
  form.PlayButtonClick();
  ASSERT_TRUE(WaitForStatus(kPlaying));
  auto start = std::chrono::steady_clock::now();
  form.close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
  form.SoundOut1Done();  // a late end of song after closing starts nothing
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
}

TEST_F(PlaybackTest, QuittingWhileAPageLoadStallsEndsTheWaitAtOnce) {
  TForm1& form = MakeForm();
  site_->SetPageFaults(demo::ParseFaults("stall=60"));
  std::chrono::steady_clock::time_point closed{};
  QTimer::singleShot(200, [&] {
    closed = std::chrono::steady_clock::now();
    form.close();
    QCoreApplication::exit(0);  // what closing the last window does in the running program
  });
  ClickCategory(1);
  ClearApplicationQuit();
  ASSERT_NE(quit_during_load_, std::chrono::steady_clock::time_point{});
  EXPECT_LT(quit_during_load_ - closed, 2s);
  EXPECT_EQ(form.SoundOut1->Status(), kIdle);
}

}  // namespace
}  // namespace djkivo::app
