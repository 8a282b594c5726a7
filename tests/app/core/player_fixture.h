// The player controller over the real audio chain on the null device, with the demo site serving
// the streams and a scripted page source standing in for the play pages: the fixture of the
// controller's playback tests.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/audio_chain.h"
#include "app/core/player_controller.h"
#include "base/main_thread.h"
#include "demo/demo_site.h"
#include "tests/app/core/controller_fakes.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app::test {

using namespace std::chrono_literals;

/// Notes what the controller tells its observers, one word each: "started ID", "playing",
/// "paused", "idle", "title".
class RecordingObserver final : public PlayerObserver {
 public:
  void SongStarted(const TMyListDj& song) override { events.push_back("started " + song.id); }
  void PlaybackStateChanged(PlaybackState state) override {
    events.push_back(state == PlaybackState::kPlaying  ? "playing"
                     : state == PlaybackState::kPaused ? "paused"
                                                       : "idle");
  }
  void TitleChanged() override { events.push_back("title"); }

  std::vector<std::string> events;
};

/// A song of the test's play list: its entry and how its play page answers.
struct TestSong {
  std::string name;
  std::string id;
  PlayPage page;
};

class PlayerTest : public ::testing::Test {
 protected:
  static constexpr char kHost[] = "catalogue.test";

  void SetUp() override {
    main_thread_ = std::make_unique<QueueMainThread>();
    MainThread::Install(main_thread_.get());
    demo::DemoSiteOptions options;
    options.song_length = Length();
    options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
    site_ = std::make_unique<demo::DemoSite>(options);
    site_->Start();

    chain_ = std::make_unique<AudioChain>(CreateSoundDevice("null"));
    chain_->SoundOut1.SetOnDone([this](TComponent*) {
      ++done_;
      controller_->Playback().OnSongEnded();
    });
    chain_->SoundOut1.SetOnSyncDone([this](TComponent*) { ++runs_; });
    chain_->SpectrumAnalyser1.SetOnGainData(
        [this](TComponent*) { controller_->Playback().OnGainTick(); });
    chain_->MediaStreamIn1.SetOnReconnect(
        [this](TComponent*) { controller_->Playback().OnReconnect(); });
    pages_.play_answer = [this](const std::string& address) {
      play_times_.push_back(std::chrono::steady_clock::now());
      auto song = songs_.find(address);
      return song == songs_.end() ? PlayPage{false, {}, "HTTP/1.1 404 Not Found"}
                                  : song->second.page;
    };
    PlayerConfig config;
    config.catalogue_host = kHost;
    config.my_list_file_name = PlayListPath();
    config.timing = Timing();
    controller_ = std::make_unique<PlayerController>(std::move(config), pages_, *chain_, view_,
                                                     *main_thread_);
    controller_->Playback().AddObserver(observer_);
  }

  void TearDown() override {
    controller_->Close();
    chain_->SoundOut1.SetOnDone({});
    chain_->SpectrumAnalyser1.SetOnGainData({});
    chain_->MediaStreamIn1.SetOnReconnect({});
    controller_.reset();
    chain_.reset();
    site_->Stop();
    main_thread_->Close();
    MainThread::Install(nullptr);
  }

  /// Short demo songs (1 to 2 s) unless a test needs songs that do not end.
  virtual demo::SongLength Length() const { return demo::SongLength::kShort; }
  /// The spacing after a failed song: short, so a round of failures passes quickly.
  virtual PlaybackTiming Timing() const { return {200ms}; }

  std::string PlayListPath() const { return (folder_.Path() / "mylist.txt").string(); }

  /// Demo song `i` as a play-list song, its play page giving its stream on the demo site with
  /// the site's fault switches `faults` (none when empty). The stream is encoded here if it is
  /// not yet, so a test's waits do not include the encoder's first run.
  TestSong DemoSong(int i, const std::string& faults = {}) const {
    const demo::DemoSong& song = site_->Catalogue().Songs()[i];
    site_->EnsureAudio(song, demo::AudioFormat::kMp3);
    const std::string prefix = faults.empty() ? "" : "/_f/" + faults;
    return {"song " + std::to_string(i), song.id,
            PlayPage{true, site_->BaseAddress() + prefix + "/audio/" + song.id + ".mp3", {}}};
  }
  /// A song whose play page holds no stream script: its run fails at once.
  static TestSong NoStreamSong(const std::string& id) {
    return {"no stream " + id, id, PlayPage{true, {}, {}}};
  }
  /// A song whose play page cannot be read.
  static TestSong GoneSong(const std::string& id) {
    return {"gone " + id, id, PlayPage{false, {}, "HTTP/1.1 404 Not Found"}};
  }

  /// Makes `songs` the play list, as loaded at start-up.
  void UsePlayList(const std::vector<TestSong>& songs) {
    std::string file;
    for (const TestSong& song : songs) {
      file += song.name + "|uploader|" + song.id + "\r\n";
      songs_[PlayPageOf(song.id)] = song;
    }
    folder_.Write("mylist.txt", file);
    controller_->LoadPlayList();
  }
  /// Changes how a song's play page answers.
  void SetPage(const std::string& id, PlayPage page) { songs_[PlayPageOf(id)].page = page; }

  static std::string PlayPageOf(const std::string& id) {
    return std::string("http://") + kHost + "/dance/play/" + id + ".html";
  }
  int PlayPageRequests(const std::string& id) const {
    int count = 0;
    for (const std::string& address : pages_.play_requests)
      count += address == PlayPageOf(id);
    return count;
  }

  PlaybackController& Playback() { return controller_->Playback(); }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
    return main_thread_->PumpUntil(done, timeout);
  }
  /// Runs the main thread for `time`, for checks that nothing more happens.
  void PumpFor(std::chrono::milliseconds time) {
    main_thread_->PumpUntil([] { return false; }, time);
  }
  bool Streams(const TestSong& song) const {
    return chain_->MediaStreamIn1.FileName() == song.page.stream_address;
  }

  std::unique_ptr<QueueMainThread> main_thread_;
  std::unique_ptr<demo::DemoSite> site_;
  djkivo::test::TempFolder folder_;
  ScriptedPages pages_;
  RecordingView view_;
  RecordingObserver observer_;
  std::unique_ptr<AudioChain> chain_;
  std::unique_ptr<PlayerController> controller_;
  std::map<std::string, TestSong> songs_;  // by play page address
  std::vector<std::chrono::steady_clock::time_point> play_times_;
  int done_ = 0;              // OnDone events handled (main thread)
  std::atomic<int> runs_{0};  // runs the output finished (output thread)
};

}  // namespace djkivo::app::test
