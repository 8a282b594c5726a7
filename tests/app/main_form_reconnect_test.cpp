// The window while the playing song's stream reconnects, on the demo site's network drop (the
// stream cut 40,000 bytes in, then every connection refused for a minute): what the display
// line and the tray say, and that every command a user may give meanwhile ends the wait within
// a second, without a message box or a change to the play list file.
#include <chrono>
#include <functional>
#include <string>

#include "app/core/player_controller.h"
#include "base/gbk_text.h"
#include "demo/faults.h"
#include "desktop/tray_icon.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

using Clock = std::chrono::steady_clock;

// What a user may wait for a command during a reconnect.
constexpr auto kCommandBound = 1s;
// The drop outlasts every test: the reconnect is still waiting when the command comes.
constexpr char kDrop[] = "drop=60@40000";

class ReconnectTest : public WindowTest {
 protected:
  demo::SongLength SongLength() const override { return demo::SongLength::kNormal; }

  // Plays entry 0 of a three-song list into the drop; returns once the window shows the
  // reconnect.
  void PlayIntoADrop() {
    WritePlayList(PlayListOfDemoSongs(3));
    play_list_ = ReadPlayList();
    for (int i = 0; i < 3; ++i) {
      const demo::DemoSong& song = site_->Catalogue().Songs()[i];
      site_->EnsureAudio(song, song.format);
    }
    site_->SetStreamFaults(demo::ParseFaults(kDrop));
    TForm1& form = MakeForm();
    form.PlayButtonClick();
    ASSERT_TRUE(WaitFor([&] { return form.Controller().Playback().Reconnecting(); }))
        << "the window never showed a reconnect";
  }

  PlaybackController& Playback() { return form_->Controller().Playback(); }

  std::string play_list_;

 public:
  // For the commands of the table below.
  using WindowTest::ClickCategory;
  using WindowTest::DoubleClickRow;
  using WindowTest::form_;
};

TEST_F(ReconnectTest, TheDisplayAndTheTraySayItAndTheElapsedTimeStandsStill) {
  PlayIntoADrop();
  TForm1& form = *form_;
  EXPECT_TRUE(Playback().Display().reconnecting);
  EXPECT_EQ(Playback().State(), PlaybackState::kPlaying);
  ASSERT_TRUE(form.TrayIcon1);
  EXPECT_NE(form.TrayIcon1->Hint().find(Utf8ToGbk(kReconnectingText).value()), std::string::npos);

  // Once the audio read before the drop has played out, the time stands still.
  ProcessEventsUntil([] { return false; }, 4s);
  const std::string elapsed = Playback().ElapsedText();
  ProcessEventsUntil([] { return false; }, 1500ms);
  EXPECT_EQ(Playback().ElapsedText(), elapsed);
  EXPECT_TRUE(Playback().Reconnecting());
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ReadPlayList(), play_list_);
}

// Each command, and what shows once it has taken effect.
struct DuringTheWait {
  const char* name;
  std::function<void(ReconnectTest&, TForm1&)> command;
  std::function<bool(TForm1&)> done;
};

bool WaitEnded(TForm1& form) {
  return !form.Controller().Playback().Reconnecting() && !form.MediaStreamIn1->Reconnecting();
}

class ReconnectCommandTest : public ReconnectTest,
                             public ::testing::WithParamInterface<DuringTheWait> {};

TEST_P(ReconnectCommandTest, EndsTheWaitWithinASecond) {
  PlayIntoADrop();
  TForm1& form = *form_;
  const DuringTheWait& c = GetParam();
  const Clock::time_point start = Clock::now();
  c.command(*this, form);
  if (form_) {
    EXPECT_TRUE(WaitFor([&] { return c.done(form); }, 5s)) << "the command never took effect";
  }
  EXPECT_LT(Clock::now() - start, kCommandBound);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ReadPlayList(), play_list_);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ReconnectCommandTest,
    ::testing::Values(
        DuringTheWait{"Pause", [](ReconnectTest&, TForm1& form) { form.PauseButtonClick(); },
                      [](TForm1& form) {
                        return form.Controller().Playback().State() == PlaybackState::kPaused;
                      }},
        // The site refuses every connection: the next song's page fails and says so, and the
        // song that waited is stopped.
        DuringTheWait{"Next", [](ReconnectTest&, TForm1& form) { form.SkinButton2Click(); },
                      WaitEnded},
        DuringTheWait{"Previous", [](ReconnectTest&, TForm1& form) { form.SkinButton1Click(); },
                      WaitEnded},
        DuringTheWait{"DoubleClick",
                      [](ReconnectTest& test, TForm1&) {
                        test.ClickCategory(5);
                        test.DoubleClickRow(1);
                      },
                      WaitEnded},
        DuringTheWait{"CloseTheWindow",
                      [](ReconnectTest& test, TForm1& form) {
                        form.close();
                        test.form_.reset();
                      },
                      [](TForm1&) { return true; }}),
    [](const auto& command) { return std::string(command.param.name); });

}  // namespace
}  // namespace djkivo::app
