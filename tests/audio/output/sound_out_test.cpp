// TSoundOut on the null device: sizing and format, priming, the half steps, the drain, end of
// input on a half boundary and in the first fill, both underrun detections, pause and resume,
// a latency change while playing, calibration, device and volume errors, a stalled device.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_thread.h"
#include "audio/output/null_device.h"
#include "audio/output/sound_out.h"
#include "base/main_thread.h"
#include "tests/support/recording_device.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using std::chrono::milliseconds;
using test::RecordingDevice;
using test::TMemoryPcmSource;

// The source's blocks are smaller than a half buffer, so a half takes several reads.
constexpr std::uint32_t kBlockBytes = 3000;
// Tests on the running clock: a song of about 1.7 s, stalling after about 0.6 s, through a
// buffer long enough that a busy machine holding up the output's thread causes no underrun of
// its own: only a gap in the data could.
constexpr std::uint64_t kRealTimeBytes = 300000;
constexpr std::int64_t kStallAt = 100000;
constexpr std::uint32_t kRealTimeLatency = 400;
constexpr milliseconds kLong{10000};

// The source's pattern bytes in `played`, in order, with silence (frames of zero bytes) between
// them. Where `may_skip` is not 0, up to that many pattern bytes may be missing at a place (what
// a failed device held), but nothing may come twice. Returns how far into the pattern `played`
// got; a mismatch fails the test and ends the walk there.
std::uint64_t PatternInOrder(const std::vector<std::uint8_t>& played, std::uint32_t may_skip) {
  constexpr std::uint32_t kFrame = 4;
  constexpr std::uint32_t kProbe = 64;  // bytes that must match where a skip lands
  std::uint64_t at = 0;
  for (std::size_t i = 0; i + kFrame <= played.size(); i += kFrame) {
    if (test::FindPatternMismatch(played.data() + i, kFrame, at) == -1) {
      at += kFrame;
      continue;
    }
    if (std::all_of(played.begin() + i, played.begin() + i + kFrame,
                    [](std::uint8_t b) { return b == 0; }))
      continue;
    bool resumed = false;
    const std::uint32_t probe =
        static_cast<std::uint32_t>(std::min<std::size_t>(kProbe, played.size() - i));
    for (std::uint64_t skip = kFrame; skip <= may_skip && !resumed; skip += kFrame)
      if (test::FindPatternMismatch(played.data() + i, probe, at + skip) == -1) {
        at += skip + kFrame;
        resumed = true;
      }
    if (!resumed) {
      ADD_FAILURE() << "played byte " << i << " is not the pattern at " << at;
      return at;
    }
  }
  return at;
}

TMemoryPcmSource::Config Source(std::uint64_t bytes, std::uint32_t rate = 44100,
                                std::uint32_t channels = 2, std::uint32_t bits = 16) {
  TMemoryPcmSource::Config config = test::MemorySource(bytes, -2, kBlockBytes);
  config.sample_rate = rate;
  config.channels = channels;
  config.bits = bits;
  return config;
}

class SoundOutTest : public ::testing::Test {
 protected:
  SoundOutTest() { MainThread::Install(&main_); }
  ~SoundOutTest() override {
    StopClock();
    out_.reset();
    source_.reset();
    MainThread::Install(nullptr);
  }

  void Make(const TMemoryPcmSource::Config& config, bool manual_clock = true, int devices = 1) {
    StopClock();
    out_.reset();
    source_ = std::make_unique<TMemoryPcmSource>(config);
    auto device = std::make_unique<RecordingDevice>(manual_clock, devices);
    device_ = device.get();
    out_ = std::make_unique<TSoundOut>(std::move(device));
    out_->SetInput(source_.get());
    out_->SetOnDone([this](TComponent*) { ++done_; });
    out_->SetOnThreadException([this](TComponent*) { errors_.push_back(out_->ErrorMessage()); });
    out_->SetOnUnderrun([this](TComponent*) { ++underruns_; });
  }

  // Waits until the output's thread is parked on a crossing.
  bool Parked() { return device_->WaitForWaiter(milliseconds(5000)); }

  // An ideal sound card for the manual clock, on a thread of its own: half a buffer each time
  // the output blocks on a crossing, so it never underruns; and once the input has ended, one
  // more lap for the drain, so everything written plays and nothing plays twice.
  void StartClock() {
    StopClock();
    clock_stop_ = false;
    clock_ = std::thread([this] {
      // A wait already blocked when the clock starts is served too.
      std::uint64_t handled =
          device_->BlockedWaits() - static_cast<std::uint64_t>(device_->Waiters());
      std::uint64_t drained = 0;
      while (!clock_stop_.load()) {
        const std::uint32_t size = device_->CurrentBufferSize();
        const std::uint64_t blocked = device_->BlockedWaits();
        const int which = device_->WaitingFor();
        if (blocked > handled && which >= 0) {
          handled = blocked;
          device_->AdvanceToCrossing(which);
          continue;
        }
        if (out_->Busy() && !out_->Active()) {
          const std::uint64_t before = device_->BytesPlayed();
          if (drained < size)
            device_->Advance(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(size / 4, size - drained)));
          drained += device_->BytesPlayed() - before;
        } else if (out_->Active()) {
          drained = 0;
        }
        std::this_thread::sleep_for(milliseconds(1));
      }
    });
  }
  void StopClock() {
    clock_stop_ = true;
    if (clock_.joinable())
      clock_.join();
  }

  // Runs to the end with the ideal clock.
  void PlayToEnd() {
    StartClock();
    main_.PumpUntil([this] { return done_ > 0; }, milliseconds(20000));
    StopClock();
  }

  // The played bytes are the source's bytes, in order, then silence only.
  void ExpectSourceThenSilence(std::uint64_t source_bytes, std::uint8_t silence = 0) {
    const std::vector<std::uint8_t> played = device_->Played();
    ASSERT_GE(played.size(), source_bytes);
    EXPECT_EQ(test::FindPatternMismatch(played.data(), static_cast<std::uint32_t>(source_bytes), 0),
              -1);
    for (std::size_t i = source_bytes; i < played.size(); ++i)
      ASSERT_EQ(played[i], silence) << "after the end, at " << i;
  }

  QueueMainThread main_;
  std::unique_ptr<TMemoryPcmSource> source_;
  RecordingDevice* device_ = nullptr;
  std::unique_ptr<TSoundOut> out_;
  int done_ = 0;
  int underruns_ = 0;
  std::vector<std::string> errors_;
  std::thread clock_;
  std::atomic<bool> clock_stop_{false};
};

TEST(SoundOutFormatTest, SizesAndWaveFormats) {
  EXPECT_EQ(TSoundOut::FrameCount(100, 44100), 4410u);
  EXPECT_EQ(TSoundOut::FrameCount(100, 22050), 2204u);
  EXPECT_EQ(TSoundOut::FrameCount(100, 66150), 6614u);
  EXPECT_EQ(TSoundOut::FrameCount(4000000000u, 192000), static_cast<std::uint32_t>(768000000000ull))
      << "a 64-bit product, truncated to 32 bits";
  struct Case {
    std::uint32_t channels;
    std::uint16_t tag;
    std::uint16_t extra;
    std::uint32_t mask;
  };
  const Case cases[] = {
      {1, 1, 0, 0}, {2, 1, 0, 0}, {5, 0xFFFE, 22, 0}, {6, 0xFFFE, 22, 0x3F}, {8, 0xFFFE, 22, 0xFF}};
  for (const Case& c : cases) {
    const WaveFormat f = TSoundOut::MakeWaveFormat(c.channels, 48000, 24);
    EXPECT_EQ(f.format_tag, c.tag) << c.channels;
    EXPECT_EQ(f.extra_size, c.extra) << c.channels;
    EXPECT_EQ(f.channel_mask, c.mask) << c.channels;
    EXPECT_EQ(f.block_align, c.channels * 3) << c.channels;
    EXPECT_EQ(f.avg_bytes_per_sec, 48000 * c.channels * 3) << c.channels;
    EXPECT_EQ(f.valid_bits_per_sample, 0) << c.channels;
    EXPECT_EQ(f.sub_format[0], c.channels > 2 ? 1 : 0) << c.channels;
    EXPECT_EQ(f.sub_format[15], c.channels > 2 ? 0x71 : 0) << c.channels;
  }
}

TEST_F(SoundOutTest, OpensTheBufferTheInputAndPropertiesAskFor) {
  struct Case {
    std::uint32_t rate, channels, bits, latency;
    float speed;
    std::uint32_t buffer_bytes, device_rate, latency_after;
  };
  const Case cases[] = {
      {44100, 2, 16, 100, 1.0f, 17640, 44100, 100},
      {22050, 1, 8, 100, 1.0f, 2204, 22050, 100},
      {44100, 2, 16, 5, 1.0f, 1760, 44100, 10},  // 10 ms: 440 frames
      {44100, 2, 16, 100, 1.5f, 4 * 6614, 66150, 100},
  };
  for (const Case& c : cases) {
    Make(Source(1 << 20, c.rate, c.channels, c.bits));
    out_->SetLatency(c.latency);
    out_->SetSpeedFactor(c.speed);
    out_->Run();
    ASSERT_TRUE(Parked());
    EXPECT_EQ(out_->BufferBytes(), c.buffer_bytes) << c.rate << "/" << c.latency;
    EXPECT_EQ(device_->CurrentBufferSize(), c.buffer_bytes);
    EXPECT_EQ(out_->DeviceSampleRate(), c.device_rate);
    EXPECT_EQ(device_->CurrentFormat().samples_per_sec, c.device_rate);
    EXPECT_EQ(out_->Latency(), c.latency_after);
    if (c.bits == 8) {
      // Primed with half a buffer of audio; the rest of the fresh buffer is 0x80.
      const std::uint32_t half = c.buffer_bytes / 2;
      device_->Advance(c.buffer_bytes);
      const auto played = device_->Played();
      EXPECT_EQ(test::FindPatternMismatch(played.data(), half, 0), -1);
    }
    out_->Stop(false);
    EXPECT_TRUE(errors_.empty());
  }
}

TEST_F(SoundOutTest, PlaysAllAudioThenSilenceAndStops) {
  const std::uint32_t half = 17640 / 2;
  // Mid-buffer; exactly on a half boundary; within the first fill.
  for (std::uint64_t bytes : {5ull * half + 1000, 4ull * half, 3000ull}) {
    done_ = 0;
    Make(Source(bytes));
    out_->Run();
    PlayToEnd();
    EXPECT_EQ(done_, 1) << bytes;
    EXPECT_FALSE(out_->Busy());
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(underruns_, 0);
    ExpectSourceThenSilence(bytes);
  }
}

TEST_F(SoundOutTest, EightBitSilenceIs0x80) {
  Make(Source(3000, 22050, 1, 8));
  out_->Run();
  PlayToEnd();
  ExpectSourceThenSilence(3000, 0x80);
}

TEST_F(SoundOutTest, BothCrossingsSetIsAnUnderrun) {
  Make(Source(1 << 20));
  out_->Run();
  ASSERT_TRUE(Parked());    // on the middle crossing
  device_->Advance(17640);  // a whole lap: both crossings pass before the output looks
  ASSERT_TRUE(main_.PumpUntil([this] { return underruns_ > 0; }, milliseconds(5000)));
  out_->Stop(false);
}

TEST_F(SoundOutTest, WritePositionInTheCommittedRegionIsAnUnderrun) {
  Make(Source(1 << 20));
  out_->Run();
  ASSERT_TRUE(Parked());  // on the middle crossing, the write position at 0
  device_->SetWriteAhead(400);
  // Past the middle to 100 bytes before the end: the committed region wraps over 0.
  device_->Advance(17640 - 100);
  ASSERT_TRUE(main_.PumpUntil([this] { return underruns_ > 0; }, milliseconds(5000)));
  EXPECT_EQ(underruns_, 1);
  out_->Stop(false);
}

TEST_F(SoundOutTest, CalibrationRaisesTheLatencyAfterAnUnderrun) {
  Make(Source(1 << 20));
  out_->SetCalibrate(true);
  out_->Run();
  ASSERT_TRUE(Parked());
  device_->Advance(17640 + 400);  // more than a lap: both crossings pass unseen
  StartClock();                   // the rebuild pauses the run, which needs the device to go on
  ASSERT_TRUE(main_.PumpUntil([this] { return out_->Latency() >= 110; }, milliseconds(10000)))
      << out_->Latency() << " " << underruns_;
  // The cursor, past 0, crosses the middle again before the next wait for 0: that step sees
  // a second underrun, which may land before or after the first rebuild; on a slow scheduler
  // (the sanitizer builds) the scripted lap can be seen once more. Runaway calibration would
  // go far beyond that.
  EXPECT_LE(out_->Latency(), 130u);
  ASSERT_TRUE(main_.PumpUntil(
      [&] {
        return device_->CurrentBufferSize() == 4 * TSoundOut::FrameCount(out_->Latency(), 44100);
      },
      milliseconds(10000)));
  out_->Stop(false);
  StopClock();
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SoundOutTest, LatencyChangeWhilePlayingRebuildsAndPlaysOn) {
  const std::uint64_t bytes = 200000;
  Make(Source(bytes));
  out_->Run();
  StartClock();
  ASSERT_TRUE(Parked());
  out_->SetLatency(5);  // no floor while playing
  EXPECT_EQ(out_->Latency(), 5u);
  EXPECT_EQ(device_->CurrentBufferSize(), 4u * 2 * (5 * 44100 / 2000));
  PlayToEnd();
  EXPECT_EQ(done_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(source_->bytes_read(), bytes);
  EXPECT_GT(device_->BytesPlayed(), bytes / 2);
}

// A pause stops the buffer once the run parks; a resume plays on from where it stopped, with
// nothing played twice (before, it primed again and restarted the buffer from its start).
TEST_F(SoundOutTest, PauseStopsTheBufferAndResumeGoesOnWhereItStopped) {
  Make(Source(1 << 20));
  out_->Run();
  StartClock();
  ASSERT_TRUE(Parked());
  out_->Pause();
  EXPECT_EQ(out_->Status(), OutputStatus::kPaused);
  ASSERT_TRUE(main_.PumpUntil([this] { return out_->Thread().Paused(); }, milliseconds(5000)));
  StopClock();
  const std::uint64_t before = device_->BytesPlayed();
  device_->Advance(4000);
  EXPECT_EQ(device_->BytesPlayed(), before) << "a paused buffer does not play";
  StartClock();
  out_->Resume();
  EXPECT_EQ(out_->Status(), OutputStatus::kPlaying);
  ASSERT_TRUE(
      main_.PumpUntil([&] { return device_->BytesPlayed() > before + 17640; }, milliseconds(5000)));
  StopClock();
  out_->Stop(false);
  EXPECT_TRUE(errors_.empty());
  const std::vector<std::uint8_t> played = device_->Played();
  EXPECT_GT(PatternInOrder(played, 0), before + 17640 / 2);
}

TEST_F(SoundOutTest, AfterTheEndPauseAndResumeLeaveTheDrainAlone) {
  const std::uint64_t bytes = 2 * 17640 + 17640 / 4;
  Make(Source(bytes));
  out_->Run();
  StartClock();
  // Everything read and the loop no longer active: the run is in its drain.
  ASSERT_TRUE(main_.PumpUntil(
      [&] { return source_->bytes_read() == bytes && out_->Busy() && !out_->Active(); },
      milliseconds(5000)))
      << "the run should reach its drain";
  out_->Resume();  // nothing to resume
  // A pause waits for the drain to finish; the buffer goes on playing meanwhile.
  out_->Pause();
  ASSERT_TRUE(main_.PumpUntil([this] { return done_ > 0; }, milliseconds(5000)));
  StopClock();
  EXPECT_TRUE(errors_.empty());
  ExpectSourceThenSilence(bytes);
}

TEST_F(SoundOutTest, DeviceNumberAndVolumeErrors) {
  for (int number : {1, -1, 16}) {
    errors_.clear();
    done_ = 0;
    Make(Source(1 << 20));
    out_->SetDeviceNumber(number);
    out_->Run();
    ASSERT_TRUE(main_.PumpUntil([this] { return done_ > 0; }, milliseconds(5000)));
    ASSERT_EQ(errors_.size(), 1u) << number;
    EXPECT_EQ(errors_[0], "Invalid device number");
    EXPECT_EQ(device_->BytesPlayed(), 0u);
  }
  // A volume set while stopped is applied when playback is primed.
  errors_.clear();
  Make(Source(1 << 20));
  out_->SetVolume(-4000);
  out_->Run();
  ASSERT_TRUE(Parked());
  EXPECT_EQ(device_->Volume(), -4000);
  out_->SetVolume(-100);
  EXPECT_EQ(device_->Volume(), -100);
  device_->SetVolumeAvailable(false);
  try {
    out_->SetVolume(0);
    ADD_FAILURE() << "no error without volume control";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "Control not available");
  }
  EXPECT_EQ(out_->Volume(), 0);
  out_->Stop(false);
  // Without volume control playback still starts, at the device's own level.
  out_->Run();
  ASSERT_TRUE(Parked());
  out_->Stop(false);
  EXPECT_TRUE(errors_.empty());
}

// A device that stops answering mid-song (a headset unplugged) is opened again on the default
// device and the song plays on to its end; what the old buffer held may be lost, nothing is
// played twice. One that fails again, for good, ends the run with its error.
TEST_F(SoundOutTest, ADeviceThatFailsIsOpenedAgainOnceAndTheSongGoesOn) {
  for (bool for_good : {false, true}) {
    SCOPED_TRACE(for_good ? "fails for good" : "fails once");
    done_ = 0;
    errors_.clear();
    Make(Source(kRealTimeBytes), /*manual_clock=*/false, /*devices=*/2);
    out_->SetDeviceNumber(1);
    out_->SetLatency(kRealTimeLatency);
    out_->Run();
    ASSERT_TRUE(main_.PumpUntil([this] { return device_->BytesPlayed() > 20000; }, kLong));
    if (for_good)
      device_->StopForever();
    else
      device_->StopUntilReopened();
    // The bound is 2 x 40 ms + 1 s per failure; allow plenty on a loaded machine.
    ASSERT_TRUE(main_.PumpUntil([this] { return done_ > 0; }, 3 * kLong));
    if (for_good) {
      ASSERT_EQ(errors_.size(), 1u);
      EXPECT_EQ(errors_[0], "The sound device stopped responding");
      continue;
    }
    EXPECT_TRUE(errors_.empty()) << errors_[0];
    EXPECT_EQ(source_->bytes_read(), kRealTimeBytes);
    const std::vector<std::uint8_t> played = device_->Played();
    EXPECT_GT(PatternInOrder(played, out_->BufferBytes()), kRealTimeBytes - out_->BufferBytes());
  }
}

// A source with nothing to give for a while (the network gone, a reconnect under way): the
// output plays silence meanwhile, counted as one underrun, and then goes on at the very sample
// where the audio stopped. Before, the device looped its last stretch while the output waited.
TEST_F(SoundOutTest, AStarvedOutputPlaysSilenceAndGoesOnWhereTheAudioStopped) {
  auto config = Source(kRealTimeBytes);
  config.stall_at = kStallAt;
  config.stall_limit = kLong;
  Make(config, /*manual_clock=*/false);
  out_->SetLatency(kRealTimeLatency);
  out_->Run();
  ASSERT_TRUE(main_.PumpUntil([this] { return out_->Underruns() > 0; }, kLong));
  const std::uint64_t before = device_->BytesPlayed();
  ASSERT_TRUE(main_.PumpUntil([&] { return device_->BytesPlayed() > before + 100000; }, kLong))
      << "the device must go on playing, silence, while the source is stalled";
  source_->Release();
  ASSERT_TRUE(main_.PumpUntil([this] { return done_ > 0; }, kLong));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(underruns_, 1);
  EXPECT_EQ(out_->Underruns(), 1u);
  EXPECT_EQ(PatternInOrder(device_->Played(), 0), kRealTimeBytes) << "a stretch repeated or lost";
}

// A pause while the output waits for a source that has nothing: the pause returns at once and
// takes effect at the output's next step; the buffer stops then, not under the waiting step (no
// looping buzz, no "stopped responding"), and the song resumes where it was.
TEST_F(SoundOutTest, PauseWhileTheOutputWaitsForAudioTakesEffectAtTheNextStep) {
  auto config = Source(kRealTimeBytes);
  config.stall_at = kStallAt;
  config.stall_limit = kLong;
  Make(config, /*manual_clock=*/false);
  out_->SetLatency(kRealTimeLatency);
  out_->Run();
  ASSERT_TRUE(main_.PumpUntil([this] { return out_->Underruns() > 0; }, kLong))
      << "the output should be waiting for audio";
  const auto asked = std::chrono::steady_clock::now();
  out_->Pause();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(1000));
  EXPECT_EQ(out_->Status(), OutputStatus::kPaused);
  ASSERT_TRUE(main_.PumpUntil([this] { return out_->Thread().Paused(); }, kLong));
  const std::uint64_t parked = device_->BytesPlayed();
  main_.Pump(milliseconds(300));
  EXPECT_LE(device_->BytesPlayed(), parked + out_->BufferBytes()) << "a paused buffer plays on";
  source_->Release();
  out_->Resume();
  ASSERT_TRUE(main_.PumpUntil([this] { return done_ > 0; }, kLong));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(PatternInOrder(device_->Played(), 0), kRealTimeBytes);
}

TEST_F(SoundOutTest, StopReturnsWhileTheDeviceIsStalled) {
  Make(Source(1 << 20), /*manual_clock=*/true);
  out_->Run();
  ASSERT_TRUE(Parked());  // nobody will ever advance the clock
  out_->Stop(false);
  EXPECT_EQ(out_->Status(), OutputStatus::kIdle);
}

TEST_F(SoundOutTest, LatencyIsSavedAndRestoredThroughTheIniFile) {
  test::TempFolder folder;
  const std::string path =
      folder.Write("player.ini", "[Other]\nLatency=7\n[audiooutput]\nKeep=1\n").string();
  Make(Source(1 << 20));
  out_->SetINIFile(path);
  EXPECT_EQ(out_->Latency(), 100u) << "no saved latency yet";
  out_->SetCalibrate(true);
  out_->SetLatency(130);
  out_.reset();
  Make(Source(1 << 20));
  out_->SetINIFile(path);
  EXPECT_EQ(out_->Latency(), 130u);
}

}  // namespace
}  // namespace djkivo
