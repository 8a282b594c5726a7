// The window while the playing song's stream reconnects, on the demo site's network drop (the
// stream cut 40,000 bytes in, then every connection refused for a minute): what the display
// line and the tray say, and that every command a user may give meanwhile ends the wait within
// a second, without a message box or a change to the play list file. And the window after the
// machine slept with loads and a stream in flight.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QTimer>

#include "app/core/player_controller.h"
#include "base/gbk_text.h"
#include "demo/faults.h"
#include "desktop/tray_icon.h"
#include "desktop/worker_thread.h"
#include "net/network_settings.h"
#include "tests/app/window_fixture.h"
#include "tests/support/tinyproxy_server.h"

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

// To the player a sleep of the machine is an instant: its clock stops too. What it finds on
// waking is a network that stays silent for a while (the Wi-Fi comes back), then answers again,
// with every connection it had dead. The network here is a proxy every load and stream goes
// through: stopped while the machine sleeps and wakes, then replaced by a fresh one on the same
// port.
constexpr auto kSilentNetwork = 15s;
// How long after the network is back a load that was in flight may take to end.
constexpr auto kLoadBound = 10s;
// The longest the window's thread may go without handling an event.
constexpr auto kAnswerBound = 2s;

class SuspendTest : public ReconnectTest {
 protected:
  void TearDown() override {
    form_.reset();  // before its network goes
    net::InstallNetworkSettings({});
    ReconnectTest::TearDown();
  }
};

TEST_F(SuspendTest, WhatWasInFlightEndsOrRecoversOnceTheNetworkIsBack) {
  if (!test::TinyproxyServer::Available())
    GTEST_SKIP() << "tinyproxy is not installed";
  auto network = std::make_unique<test::TinyproxyServer>();
  const int port = network->Port();
  net::InstallNetworkSettings({.proxy = network->Name()});
  // A song that outlasts the test, its stream paced at 1.5 times its bit rate as a real site's
  // arrives, so only seconds of it are read ahead when the network goes.
  const auto& songs = site_->Catalogue().Songs();
  const auto song = std::find_if(songs.begin(), songs.end(),
                                 [](const demo::DemoSong& s) { return s.seconds >= 60; });
  ASSERT_NE(song, songs.end());
  site_->EnsureAudio(*song, song->format);
  site_->SetStreamFaults(demo::ParseFaults("slow=24000"));
  WritePlayList(PlayListLine(*song));
  const std::string play_list = ReadPlayList();
  TForm1& form = MakeForm();
  form.Timer2->stop();  // the version check is started by hand, into the sleep
  form.PlayButtonClick();
  // PCM bytes heard: 44.1 kHz stereo, 16 bits.
  constexpr std::int64_t kBytesPerSecond = 44100 * 4;
  const auto heard = [&form] { return form.SpectrumAnalyser1->Position(); };
  ASSERT_TRUE(WaitFor([&] { return heard() >= 3 * kBytesPerSecond; }));

  Clock::time_point last_beat = Clock::now();
  Clock::duration longest_silence{};
  bool showed_reconnect = false;
  QTimer beat;
  beat.setInterval(50ms);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    longest_silence = std::max(longest_silence, now - last_beat);
    last_beat = now;
    showed_reconnect = showed_reconnect || Playback().Display().reconnecting;
  });
  beat.start();

  network->Freeze();
  const Clock::time_point slept = Clock::now();
  form.Timer2Timer();
  // The network comes back while the window's thread is inside the category's page load. (On
  // the window's thread: a proxy started by a thread that then ends would end with it.) Tied to
  // the heartbeat, so a test that ends early leaves no call behind for a later one.
  QTimer::singleShot(kSilentNetwork, &beat, [&] {
    network.reset();
    network = std::make_unique<test::TinyproxyServer>(test::TinyproxyOptions{.port = port});
  });
  ClickCategory(3);
  const CatalogueBrowser& catalogue = form.Controller().Catalogue();
  EXPECT_TRUE(WaitFor([&] { return catalogue.State() != ListState::kLoading; },
                      kSilentNetwork + kLoadBound));
  EXPECT_LT(Clock::now() - slept, kSilentNetwork + kLoadBound);
  EXPECT_EQ(catalogue.State(), ListState::kFailed) << "the page load that was in flight";
  EXPECT_FALSE(catalogue.ListError().empty());
  EXPECT_TRUE(WaitFor([&] { return !form.WorkerThread1->IsRunning(); }, kLoadBound))
      << "the version check is still waiting";

  // The same song goes on from where it stopped.
  const std::int64_t at_wake = heard();
  EXPECT_TRUE(WaitFor(
      [&] { return !Playback().Reconnecting() && heard() > at_wake + kBytesPerSecond; }, 30s))
      << "no sound since the network came back";
  EXPECT_TRUE(showed_reconnect) << "the read-ahead never ran out: the sleep was not felt";
  EXPECT_EQ(Playback().State(), PlaybackState::kPlaying);
  ASSERT_TRUE(Playback().Display().song);
  EXPECT_EQ(Playback().Display().song->id, song->id);
  EXPECT_LT(longest_silence, kAnswerBound);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ReadPlayList(), play_list);
}

}  // namespace
}  // namespace djkivo::app
