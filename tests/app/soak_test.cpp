// The soak: the window plays hundreds of short demo songs back to back through auto-advance, in
// both play modes, while the site's page and stream faults change every tenth song. Nothing may
// grow: resident memory stays within 5 % of what it was after the first songs, no thread or
// descriptor is left behind, no message box shows, and the play list file is never touched.
//
// The songs play on the wav device's fast mode (a whole song in the time it takes to decode),
// so 300 songs take a couple of minutes. DJKIVO_SOAK_MINUTES=N plays for N minutes instead
// (scripts/soak).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QToolButton>

#include "app/core/player_controller.h"
#include "app/status_panel.h"
#include "tests/app/window_fixture.h"
#include "tests/support/process_stats.h"

namespace djkivo::app {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSongs = 300;
// The allocator's arenas, Qt's caches and the demo site's encoded songs settle over the first
// songs; growth is measured from there.
constexpr int kSettleSongs = 20;
constexpr double kMemoryGrowth = 0.05;
// Songs per fault phase; thread and descriptor counts are compared phase by phase.
constexpr int kPhaseSongs = 10;
constexpr int kPlayListEntries = 40;
// A progress line every so many songs.
constexpr int kReportSongs = 50;
// The longest the next song may take to start: a song after a failed one waits its second,
// a stream cut short is reconnected after up to 4 s. A hang check, not a speed check.
constexpr auto kNextSongBound = 30s;

// Faults the player rides out without a message: encodings, redirects, streams cut short
// (resumed where they broke off) and streams that are gone (the song fails, the next follows).
// Play pages always load: a play page that fails ends auto-advance, which is not soaked here.
struct FaultPhase {
  const char* pages;
  const char* streams;
};
constexpr FaultPhase kPhases[] = {
    {"", ""},
    {"gzip", ""},
    {"chunked", "chunked"},
    {"redirect=2", "redirect=1"},
    {"gzip,chunked,redirect=1,relative", "truncate=6000"},
    {"", "reset=9000"},
    {"gzip", "404"},
};

// What the process holds once a song has ended: its chain is closed then, and the next play
// page has not been asked for yet.
struct Sample {
  int song = 0;  // songs started before it
  double resident_mib = 0;
  int threads = 0;
  int descriptors = 0;
};

class SoakRecorder final : public PlayerObserver {
 public:
  void SongStarted(const TMyListDj&) override {
    ++started_;
    if (on_song_)
      on_song_(started_);
  }
  void PlaybackStateChanged(PlaybackState state) override {
    if (state != PlaybackState::kIdle || started_ == 0)
      return;
    const Sample sample = {started_, test::ResidentMib(), test::OwnThreads(),
                           test::OpenDescriptors()};
    if (samples_.empty() || samples_.back().song / kReportSongs != sample.song / kReportSongs)
      std::printf("soak: song %d, %.1f MiB resident, %d threads, %d descriptors\n", sample.song,
                  sample.resident_mib, sample.threads, sample.descriptors);
    samples_.push_back(sample);
  }
  void TitleChanged() override {}

  int Started() const { return started_; }
  const std::vector<Sample>& Samples() const { return samples_; }
  /// Called with the number of songs started so far, each time one starts.
  std::function<void(int)> on_song_;

 private:
  int started_ = 0;
  std::vector<Sample> samples_;
};

class SoakTest : public WindowTest {
 protected:
  void Configure(TForm1Config& config) override {
    config.device = "wav:" + (folder_.Path() / "played.wav").string();
  }

  void SetUp() override {
    WindowTest::SetUp();
    for (int i = 0; i < kPlayListEntries; ++i) {
      const demo::DemoSong& song = site_->Catalogue().Songs()[i];
      site_->EnsureAudio(song, song.format);  // encoded before the soak starts
    }
  }

  void SetPhase(int song) {
    const FaultPhase& phase = kPhases[(song / kPhaseSongs) % std::size(kPhases)];
    site_->SetPageFaults(demo::ParseFaults(phase.pages));
    site_->SetStreamFaults(demo::ParseFaults(phase.streams));
  }
};

// How long the soak runs: DJKIVO_SOAK_MINUTES, or until kSongs songs have started.
std::optional<std::chrono::minutes> SoakMinutes() {
  const char* minutes = std::getenv("DJKIVO_SOAK_MINUTES");
  if (minutes == nullptr || *minutes == '\0')
    return std::nullopt;
  return std::chrono::minutes(std::atoi(minutes));
}

// The lowest count of each phase from the settled songs on; a thread or descriptor left behind
// raises every later one for good.
std::vector<int> PhaseLows(const std::vector<Sample>& samples, int Sample::*field) {
  std::vector<int> lows;
  for (const Sample& sample : samples) {
    if (sample.song <= kSettleSongs)
      continue;
    const std::size_t phase = (sample.song - kSettleSongs - 1) / kPhaseSongs;
    if (lows.size() <= phase)
      lows.resize(phase + 1, sample.*field);
    lows[phase] = std::min(lows[phase], sample.*field);
  }
  return lows;
}

TEST_F(SoakTest, HundredsOfSongsBackToBackLeaveNothingBehind) {
  WritePlayList(PlayListOfDemoSongs(kPlayListEntries));
  const std::string play_list = ReadPlayList();
  TForm1& form = MakeForm();
  SoakRecorder recorder;
  form.Controller().Playback().AddObserver(recorder);
  const std::optional<std::chrono::minutes> minutes = SoakMinutes();
  const Clock::time_point start = Clock::now();
  auto done = [&] {
    return minutes ? Clock::now() - start >= *minutes : recorder.Started() >= kSongs;
  };
  int after_failure = 0;  // songs started right after one that produced no audio
  recorder.on_song_ = [&](int started) {
    after_failure += form.Controller().Playback().FailedSongs() > 0;
    if (started % kPhaseSongs == 0)
      SetPhase(started);
    // The first half sequential, the second random (with the minutes form, by turns).
    const bool random = (started / (kSongs / 2)) % 2 == 1;
    if (random != form.Controller().Playback().RandomMode())
      (random ? form.SkinButton4 : form.SkinButton5)->click();
  };
  form.PlayButtonClick();
  while (!done()) {
    const int before = recorder.Started();
    ASSERT_TRUE(WaitFor([&] { return recorder.Started() > before || done(); }, kNextSongBound))
        << "no song started for " << kNextSongBound.count() << " s after song " << before
        << "; the status line says " << form.SkinStatusPanel1->text().toStdString();
  }
  form.PauseButtonClick();
  form.Controller().Playback().RemoveObserver(recorder);
  const int songs = recorder.Started();

  // Nothing but the injected faults went wrong, and the play list was only read. The faults
  // did happen: songs failed on the gone streams, and cut streams were resumed at their byte.
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ReadPlayList(), play_list);
  EXPECT_GT(after_failure, 0);
  const std::vector<demo::RequestRecord> requests = site_->Requests();
  EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const demo::RequestRecord& r) {
    const std::size_t range = r.head.find("Range: bytes=");
    return range != std::string::npos && r.head.compare(range + 13, 2, "0-") != 0;
  })) << "no stream was resumed";

  const std::vector<Sample>& samples = recorder.Samples();
  const auto settled = std::find_if(samples.begin(), samples.end(),
                                    [](const Sample& s) { return s.song > kSettleSongs; });
  ASSERT_NE(settled, samples.end()) << "fewer than " << kSettleSongs << " songs ended";
  const double baseline = settled->resident_mib;
  double highest = baseline;
  for (auto sample = settled; sample != samples.end(); ++sample) {
    EXPECT_LE(sample->resident_mib, baseline * (1 + kMemoryGrowth))
        << "after song " << sample->song << ": " << sample->resident_mib << " MiB, " << baseline
        << " MiB after song " << settled->song;
    highest = std::max(highest, sample->resident_mib);
  }
  for (int Sample::*field : {&Sample::threads, &Sample::descriptors}) {
    const std::vector<int> lows = PhaseLows(samples, field);
    ASSERT_FALSE(lows.empty());
    for (std::size_t phase = 1; phase < lows.size(); ++phase)
      EXPECT_LE(lows[phase], lows[0])
          << (field == &Sample::threads ? "threads" : "descriptors") << " in songs "
          << kSettleSongs + phase * kPhaseSongs << " on";
  }
  std::printf(
      "soak: %d songs in %.0f s; resident %.1f MiB after song %d, at most %.1f MiB, "
      "%.1f MiB at the end; %d threads, %d descriptors at the end; %d songs after a "
      "failed one\n",
      songs, std::chrono::duration<double>(Clock::now() - start).count(), baseline, settled->song,
      highest, samples.back().resident_mib, samples.back().threads, samples.back().descriptors,
      after_failure);
}

}  // namespace
}  // namespace djkivo::app
