// What every sound device back end promises the output (audio/output/sound_device.h), checked
// on each of them: the null device on its clock, the WAV device in both modes, and PortAudio on
// this machine's default output where there is one.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "audio/output/null_device.h"
#include "audio/output/portaudio_device.h"
#include "audio/output/sound_device.h"
#include "audio/output/sound_out.h"
#include "audio/output/wav_device.h"
#include "tests/support/temp_folder.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// 100 ms of 44.1 kHz 16-bit stereo: a crossing every 50 ms of play.
constexpr std::uint32_t kSize = 17640;
// Generous bounds for a crossing on a loaded machine, and the wait that shows none comes.
constexpr auto kCrossingBound = 5s;
constexpr auto kQuiet = 300ms;

struct BackEnd {
  const char* name;
  std::function<std::unique_ptr<SoundDevice>(const std::string& folder)> make;
};

void PrintTo(const BackEnd& back_end, std::ostream* out) { *out << back_end.name; }

class SoundDeviceContractTest : public ::testing::TestWithParam<BackEnd> {
 protected:
  void SetUp() override {
    device_ = GetParam().make(folder_.Path().string());
    list_ = device_->Enumerate();
    if (std::string(GetParam().name) == "portaudio" &&
        (list_.empty() || device_->Create(0) != kSoundOk ||
         device_->InitBuffer(TSoundOut::MakeWaveFormat(2, 44100, 16), kSize) != kSoundOk))
      GTEST_SKIP() << "no PortAudio output device on this machine (no sound card or sound "
                      "server); PortAudioDeviceTest covers the back end through ALSA's null "
                      "plugin";
    device_->Close();
  }
  void TearDown() override {
    if (device_)
      device_->Close();
  }

  // Creates device 0 and a buffer of kSize bytes in 16-bit stereo.
  void Open() {
    ASSERT_EQ(device_->Create(0), kSoundOk);
    ASSERT_EQ(device_->InitBuffer(TSoundOut::MakeWaveFormat(2, 44100, 16), kSize), kSoundOk);
  }
  std::uint32_t PlayCursor() {
    std::uint32_t play = 0, write = 0;
    EXPECT_EQ(device_->GetCurrentPosition(&play, &write), kSoundOk);
    return play;
  }

  test::TempFolder folder_;
  std::unique_ptr<SoundDevice> device_;
  std::vector<SoundDeviceEntry> list_;
};

TEST_P(SoundDeviceContractTest, ListsDevicesWithTheDefaultFirst) {
  ASSERT_FALSE(list_.empty());
  EXPECT_LE(list_.size(), static_cast<std::size_t>(kMaxSoundDevices));
  EXPECT_EQ(list_[0].id, "") << "entry 0 is the default device";
  for (const SoundDeviceEntry& entry : list_)
    EXPECT_LE(entry.description.size(), kMaxDeviceDescription);
  EXPECT_EQ(device_->Create(0), kSoundOk);
  EXPECT_NE(device_->Create(static_cast<int>(list_.size())), kSoundOk);
  EXPECT_NE(device_->Create(-1), kSoundOk);
}

TEST_P(SoundDeviceContractTest, RefusesBadBuffersAndAnswersWithoutOne) {
  ASSERT_EQ(device_->Create(0), kSoundOk);
  WaveFormat wrong_align = TSoundOut::MakeWaveFormat(2, 44100, 16);
  wrong_align.block_align = 3;
  WaveFormat no_channels = TSoundOut::MakeWaveFormat(2, 44100, 16),
             no_rate = TSoundOut::MakeWaveFormat(2, 44100, 16),
             odd_bits = TSoundOut::MakeWaveFormat(2, 44100, 16);
  no_channels.channels = 0;
  no_rate.samples_per_sec = 0;
  odd_bits.bits_per_sample = 12;
  const struct {
    const char* name;
    WaveFormat format;
    std::uint32_t size;
  } kCases[] = {{"empty", TSoundOut::MakeWaveFormat(2, 44100, 16), 0},
                {"part of a frame", TSoundOut::MakeWaveFormat(2, 44100, 16), kSize + 2},
                {"no channels", no_channels, kSize},
                {"no rate", no_rate, kSize},
                {"12 bits", odd_bits, kSize},
                {"wrong block align", wrong_align, kSize}};
  for (const auto& c : kCases)
    EXPECT_EQ(device_->InitBuffer(c.format, c.size), kSoundInvalidArg) << c.name;
  std::uint32_t play = 0, write = 0;
  SoundRegion first, second;
  EXPECT_EQ(device_->GetCurrentPosition(&play, &write), kSoundNoBuffer);
  EXPECT_EQ(device_->Lock(0, 4, &first, &second), kSoundNoBuffer);
  EXPECT_EQ(device_->Play(true), kSoundNoBuffer);
  EXPECT_EQ(device_->Stop(), kSoundOk);
}

TEST_P(SoundDeviceContractTest, AFreshBufferStandsStillWithBothCrossingsClear) {
  Open();
  std::uint32_t play = 1, write = 2;
  ASSERT_EQ(device_->GetCurrentPosition(&play, &write), kSoundOk);
  EXPECT_EQ(play, write);
  EXPECT_EQ(device_->WaitHalf(0, kQuiet), HalfWait::kTimedOut);
  EXPECT_EQ(device_->WaitHalf(1, kQuiet), HalfWait::kTimedOut);
  EXPECT_EQ(PlayCursor(), play);
}

TEST_P(SoundDeviceContractTest, LockGivesOneRegionOrTwoWhenTheRangeWraps) {
  Open();
  SoundRegion first, second;
  ASSERT_EQ(device_->Lock(100, 400, &first, &second), kSoundOk);
  EXPECT_EQ(first.bytes, 400u);
  EXPECT_EQ(second.bytes, 0u);
  device_->Unlock();
  ASSERT_EQ(device_->Lock(kSize - 40, 100, &first, &second), kSoundOk);
  EXPECT_EQ(first.bytes, 40u);
  EXPECT_EQ(second.bytes, 60u);
  ASSERT_NE(second.data, nullptr);
  EXPECT_EQ(second.data + kSize - 40, first.data) << "the second region is the buffer's start";
  device_->Unlock();
  EXPECT_EQ(device_->Lock(kSize, 4, &first, &second), kSoundInvalidArg);
  EXPECT_EQ(device_->Lock(0, kSize + 4, &first, &second), kSoundInvalidArg);
}

// Playing from the start stands on the start crossing; then the crossings come in turn.
TEST_P(SoundDeviceContractTest, PlayingCrossesTheMiddleAndTheStartInTurn) {
  Open();
  ASSERT_EQ(device_->Play(true), kSoundOk);
  EXPECT_NE(device_->WaitHalf(0, kCrossingBound), HalfWait::kTimedOut);
  for (int lap = 0; lap < 2; ++lap) {
    EXPECT_NE(device_->WaitHalf(1, kCrossingBound), HalfWait::kTimedOut) << lap;
    EXPECT_NE(device_->WaitHalf(0, kCrossingBound), HalfWait::kTimedOut) << lap;
  }
}

// A stopped buffer stays where it stopped, and a restart goes on from there.
TEST_P(SoundDeviceContractTest, StopHoldsTheCursorAndARestartGoesOnFromIt) {
  Open();
  ASSERT_EQ(device_->Play(true), kSoundOk);
  ASSERT_NE(device_->WaitHalf(0, kCrossingBound), HalfWait::kTimedOut);
  ASSERT_NE(device_->WaitHalf(1, kCrossingBound), HalfWait::kTimedOut);
  ASSERT_EQ(device_->Stop(), kSoundOk);
  device_->ClearHalf(0);
  device_->ClearHalf(1);
  const std::uint32_t stopped = PlayCursor();
  EXPECT_EQ(device_->WaitHalf(0, kQuiet), HalfWait::kTimedOut);
  EXPECT_EQ(PlayCursor(), stopped);
  ASSERT_EQ(device_->Play(false), kSoundOk);
  EXPECT_NE(device_->WaitHalf(0, kCrossingBound), HalfWait::kTimedOut)
      << "the restart plays on towards the start crossing";
}

TEST_P(SoundDeviceContractTest, VolumeIsHonouredOrReportedMissing) {
  Open();
  for (std::int32_t volume : {0, -4000, -10000}) {
    const SoundResult result = device_->SetVolume(volume);
    EXPECT_TRUE(result == kSoundOk || result == kSoundControlUnavail) << volume;
  }
}

TEST_P(SoundDeviceContractTest, CloseReleasesEverythingAndTheDeviceOpensAgain) {
  Open();
  ASSERT_EQ(device_->Play(true), kSoundOk);
  device_->Close();
  device_->Close();
  std::uint32_t play = 0, write = 0;
  EXPECT_EQ(device_->GetCurrentPosition(&play, &write), kSoundNoBuffer);
  EXPECT_EQ(device_->WaitHalf(1, kQuiet), HalfWait::kTimedOut);
  Open();
  ASSERT_EQ(device_->Play(true), kSoundOk);
  EXPECT_NE(device_->WaitHalf(0, kCrossingBound), HalfWait::kTimedOut);
  EXPECT_NE(device_->WaitHalf(1, kCrossingBound), HalfWait::kTimedOut);
}

INSTANTIATE_TEST_SUITE_P(
    BackEnds, SoundDeviceContractTest,
    ::testing::Values(
        BackEnd{"null", [](const std::string&) { return std::make_unique<NullDevice>(); }},
        BackEnd{"wav",
                [](const std::string& folder) {
                  return std::make_unique<WavDevice>(folder + "/fast.wav", false);
                }},
        BackEnd{"wav_realtime",
                [](const std::string& folder) {
                  return std::make_unique<WavDevice>(folder + "/realtime.wav", true);
                }},
        BackEnd{"portaudio",
                [](const std::string&) { return std::make_unique<PortAudioDevice>(); }}),
    [](const ::testing::TestParamInfo<BackEnd>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace djkivo
