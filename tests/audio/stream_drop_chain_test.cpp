// The network going away mid-song, heard through the chain the window plays through (stream
// input, cache, analyser, sound output into a WAV file): what the device played is the song's
// own PCM, exact to the ffmpeg tool's decode, with at most silence where the network was away;
// a drop longer than the reconnect time ends the song with its reason; a stop or the next song
// during the wait is not held up by it.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/main_thread.h"
#include "demo/demo_site.h"
#include "tests/support/play_chain.h"
#include "tests/support/poll.h"
#include "tests/support/short_demo_site.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// Bytes of the MP3 (128 kbit/s, 16,000 bytes a second) before the network goes away: past the
// second the reader buffers before it starts, a second or so before the end of a short song.
constexpr int kDropAt = 20000;

// `played` is `expected` with nothing lost, added or repeated, but for stretches of silence
// (whole frames of zero bytes) put in between; returns the expected bytes it got through.
std::size_t MatchedWithSilence(const std::vector<std::uint8_t>& played,
                               const std::vector<std::uint8_t>& expected) {
  constexpr std::size_t kFrame = 4;
  std::size_t at = 0;
  for (std::size_t i = 0; i + kFrame <= played.size(); i += kFrame) {
    if (at + kFrame <= expected.size() &&
        std::equal(played.begin() + i, played.begin() + i + kFrame, expected.begin() + at)) {
      at += kFrame;
      continue;
    }
    if (std::all_of(played.begin() + i, played.begin() + i + kFrame,
                    [](std::uint8_t b) { return b == 0; }))
      continue;
    ADD_FAILURE() << "played byte " << i << " is not the song's byte " << at;
    return at;
  }
  return at;
}

class StreamDropChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = test::StartShortDemoSite();
    song_ = test::LongestSong(*site_);
    pcm_ = test::DecodeWithFfmpegTool(site_->EnsureAudio(song_, demo::AudioFormat::kMp3));
    MainThread::Install(&main_);
  }
  void TearDown() override {
    chain_.reset();
    MainThread::Install(nullptr);
  }

  // The chain on the WAV device, playing the song with `faults` on its stream.
  void Make(bool realtime, const std::string& faults) {
    chain_ = std::make_unique<test::PlayChain>((realtime ? "wav-realtime:" : "wav:") + Wav());
    chain_->stream.SetFileName(site_->BaseAddress() + "/_f/" + faults + "/audio/" + song_.id +
                               ".mp3");
    chain_->stream.SetBufferingTime(1);
    // A buffer long enough that a busy machine holding up the output causes no gap of its own.
    chain_->out.SetLatency(realtime ? 400 : 100);
  }
  std::string Wav() const { return (folder_.Path() / "played.wav").string(); }
  std::vector<std::uint8_t> Played() const {
    const std::string file = test::ReadFileBytes(Wav());
    return file.size() > 44 ? std::vector<std::uint8_t>(file.begin() + 44, file.end())
                            : std::vector<std::uint8_t>();
  }
  bool PlayToTheEnd(std::chrono::seconds limit) {
    return main_.PumpUntil([this] { return chain_->done > 0; }, limit);
  }
  static std::string Drop(int seconds) {
    return "drop=" + std::to_string(seconds) + "@" + std::to_string(kDropAt);
  }

  QueueMainThread main_;
  test::TempFolder folder_;
  std::unique_ptr<demo::DemoSite> site_;
  demo::DemoSong song_;
  std::vector<std::uint8_t> pcm_;
  std::unique_ptr<test::PlayChain> chain_;
};

// Drops of 5 s and of 40 s, longer than all the chain reads ahead: the song is heard whole, the
// run ends at its end and not before.
TEST_F(StreamDropChainTest, ADropIsHeardOnlyAsAPause) {
  for (int seconds : {5, 40}) {
    SCOPED_TRACE(std::to_string(seconds) + " s");
    Make(false, Drop(seconds));
    const auto started = std::chrono::steady_clock::now();
    chain_->out.Run();
    ASSERT_TRUE(PlayToTheEnd(std::chrono::seconds(seconds + 30)));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(seconds));
    EXPECT_EQ(chain_->error, "");
    EXPECT_EQ(chain_->stream.Failure(), "");
    chain_.reset();  // the WAV file is complete once its device is closed
    const std::vector<std::uint8_t> played = Played();
    ASSERT_GE(played.size(), pcm_.size());
    EXPECT_TRUE(std::equal(pcm_.begin(), pcm_.end(), played.begin()))
        << "the song's PCM was not played exactly: a gap or a repeat";
  }
}

// Played in real time with the stream paced close to its bit rate, so little is read ahead:
// the output runs dry during a 3 s drop and plays silence, then goes on at the very sample.
TEST_F(StreamDropChainTest, AStarvedChainPlaysSilenceAndGoesOnAtTheSample) {
  Make(true, "slow=20000," + Drop(3));
  int underruns = 0;
  chain_->out.SetOnUnderrun([&](TComponent*) { ++underruns; });
  chain_->out.Run();
  ASSERT_TRUE(PlayToTheEnd(30s));
  EXPECT_EQ(chain_->error, "");
  EXPECT_GE(underruns, 1) << "the drop should have outlasted what was read ahead";
  chain_.reset();
  EXPECT_EQ(MatchedWithSilence(Played(), pcm_), pcm_.size());
}

// The network goes away while the song is paused, and is back by the time it resumes.
TEST_F(StreamDropChainTest, ADropWhilePausedIsNotHeard) {
  Make(true, "slow=20000," + Drop(2));
  chain_->out.Run();
  ASSERT_TRUE(test::PollUntil([this] { return chain_->analyser.Position() > 0; }, 10s));
  chain_->out.Pause();
  ASSERT_TRUE(test::PollUntil(
      [this] { return site_->RefusedUntil() > std::chrono::steady_clock::now(); }, 10s));
  std::this_thread::sleep_for(3s);  // the drop and the reconnect happen during the pause
  chain_->out.Resume();
  ASSERT_TRUE(PlayToTheEnd(30s));
  EXPECT_EQ(chain_->error, "");
  EXPECT_EQ(chain_->stream.Failure(), "");
  chain_.reset();
  EXPECT_EQ(MatchedWithSilence(Played(), pcm_), pcm_.size());
}

// A drop longer than the reconnect time: the song ends after it, with what was heard exact and
// the reason kept for the user.
TEST_F(StreamDropChainTest, ADropLongerThanTheReconnectTimeEndsTheSong) {
  Make(false, Drop(20));
  chain_->stream.SetReconnectTime(2s);
  const auto started = std::chrono::steady_clock::now();
  chain_->out.Run();
  ASSERT_TRUE(PlayToTheEnd(30s));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  EXPECT_EQ(chain_->stream.Failure(),
            "The stream ended early: the connection did not come back in time");
  chain_.reset();
  const std::vector<std::uint8_t> played = Played();
  const std::size_t heard = MatchedWithSilence(played, pcm_);
  EXPECT_GT(heard, 0u);
  EXPECT_LT(heard, pcm_.size());
}

// During the wait for the network a stop returns at once and the next song plays.
TEST_F(StreamDropChainTest, StopAndTheNextSongDuringTheWaitAreNotHeldUp) {
  Make(false, Drop(60));
  chain_->out.Run();
  ASSERT_TRUE(test::PollUntil([this] { return chain_->stream.Reconnecting(); }, 20s));
  const auto before = std::chrono::steady_clock::now();
  chain_->out.Stop(false);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  // The next song (the site still refuses connections: a local file stands in for it).
  chain_->stream.SetOrigin(AddressOrigin::kUser);
  chain_->stream.SetFileName(test::TestMediaPath(test::TestMedia::kWav16Mono));
  chain_->out.Run();
  ASSERT_TRUE(PlayToTheEnd(30s));
  EXPECT_EQ(chain_->error, "");
}

// Closing the window (the chain destroyed, its output stopped first) during the wait.
TEST_F(StreamDropChainTest, CloseDuringTheWaitIsNotHeldUp) {
  Make(false, Drop(60));
  chain_->out.Run();
  ASSERT_TRUE(test::PollUntil([this] { return chain_->stream.Reconnecting(); }, 20s));
  const auto before = std::chrono::steady_clock::now();
  chain_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

}  // namespace
}  // namespace djkivo
