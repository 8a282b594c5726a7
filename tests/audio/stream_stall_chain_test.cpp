// A site that stalls for 20 s in the middle of a song, played in real time through the chain the
// window builds (stream input with its 10 s wait, cache, analyser, sound output): the reader
// replaces the silent connection after 5 s, resuming at the same byte, and what the chain read
// ahead carries the song over that time, so what the device played is the song's own PCM
// without a gap or a repeat.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/main_thread.h"
#include "demo/demo_site.h"
#include "tests/support/play_chain.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// The song must last long enough for the stall to start after this much audio and for some
// audio after the reconnect to be played before the test stops.
constexpr double kSecondsBeforeStall = 10;
constexpr int kStallSeconds = 20;
// MP3 bytes per second of audio at the site's 128 kbit/s.
constexpr int kMp3BytesPerSecond = 16000;
// Playing this long covers the stall's start, the reconnect after 5 s and audio fetched over
// the new connection.
constexpr auto kPlayTime = 13s;
// A large output buffer, so that a busy test machine starving the output thread cannot cause
// an underrun of its own: only a gap in the data could.
constexpr std::uint32_t kLatencyMs = 1000;

TEST(StreamStallChainTest, ATwentySecondStallMidSongIsNotHeard) {
  test::TempFolder folder;
  demo::DemoSiteOptions options;
  options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite site(options);
  site.Start();
  const auto& songs = site.Catalogue().Songs();
  const auto song = std::find_if(songs.begin(), songs.end(), [](const demo::DemoSong& s) {
    return s.format == demo::AudioFormat::kMp3 && s.seconds >= kSecondsBeforeStall + 4;
  });
  ASSERT_NE(song, songs.end());
  const std::string mp3 = site.EnsureAudio(*song, demo::AudioFormat::kMp3);
  const std::vector<std::uint8_t> expected = test::DecodeWithFfmpegTool(mp3);
  const std::string wav = (folder.Path() / "played.wav").string();
  const std::string path =
      "/_f/stall=" + std::to_string(kStallSeconds) + "@" +
      std::to_string(static_cast<int>(kSecondsBeforeStall * kMp3BytesPerSecond)) + "/audio/" +
      song->id + ".mp3";

  QueueMainThread main;
  MainThread::Install(&main);
  int underruns = 0;
  int done = 0;
  std::string error;
  {
    test::PlayChain chain("wav-realtime:" + wav);
    chain.stream.SetFileName(site.BaseAddress() + path);
    chain.stream.SetBufferingTime(2);
    chain.stream.SetMaxWaitMilliseconds(10000);
    chain.out.SetLatency(kLatencyMs);
    chain.out.SetOnUnderrun([&](TComponent*) { ++underruns; });
    chain.out.Run();
    const auto started = std::chrono::steady_clock::now();
    main.PumpUntil(
        [&] { return chain.done > 0 || std::chrono::steady_clock::now() - started >= kPlayTime; },
        kPlayTime + 5s);
    chain.out.Stop(false);
    done = chain.done;
    error = chain.error;
  }
  MainThread::Install(nullptr);
  site.Stop();

  EXPECT_EQ(done, 0) << "the song ended early: the stall ended the stream";
  EXPECT_EQ(error, "");
  EXPECT_EQ(underruns, 0);
  EXPECT_GE(site.RequestCount(path), 2) << "the reader did not reconnect";
  const std::string file = test::ReadFileBytes(wav);
  ASSERT_GT(file.size(), 44u);
  const std::vector<std::uint8_t> played(file.begin() + 44, file.end());
  // 44.1 kHz, 16-bit stereo: the audio past the stall's start was played.
  ASSERT_GT(played.size(), static_cast<std::size_t>((kSecondsBeforeStall + 1) * 176400));
  ASSERT_LE(played.size(), expected.size());
  EXPECT_TRUE(std::equal(played.begin(), played.end(), expected.begin()))
      << "what was played differs from the song: a gap or a repeat";
}

}  // namespace
}  // namespace djkivo
