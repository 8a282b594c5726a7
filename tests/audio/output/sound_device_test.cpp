// The looping buffer's contents, the null and WAV back ends' own switches, and the output's
// device operations (audio/output/snd_out.h) on top of them. What every back end promises is
// checked on each by sound_device_contract_test.cpp.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/output/null_device.h"
#include "audio/output/snd_out.h"
#include "audio/output/sound_out.h"
#include "audio/output/wav_device.h"
#include "tests/support/recording_device.h"
#include "tests/support/temp_folder.h"

namespace djkivo {
namespace {

using std::chrono::milliseconds;
using test::RecordingDevice;

struct Fixture {
  explicit Fixture(std::uint32_t size = 400,
                   WaveFormat format = TSoundOut::MakeWaveFormat(2, 44100, 16)) {
    auto owned = std::make_unique<RecordingDevice>();
    device = owned.get();
    snd.device = std::move(owned);
    EXPECT_EQ(SndOutCreate(snd, 0), kSoundOk);
    EXPECT_EQ(SndOutInitBuffer(snd, format, size), kSoundOk);
  }
  SndOut snd;
  RecordingDevice* device;
};

std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed)) % 251 + 1);
  return out;
}

TEST(LoopingDeviceTest, FreshBufferIsSilentAndStill) {
  for (std::uint16_t bits : {8, 16}) {
    Fixture f(400, TSoundOut::MakeWaveFormat(1, 22050, bits));
    std::uint32_t free = 99;
    EXPECT_EQ(SndOutFreeSpace(f.snd, &free), kSoundOk);
    EXPECT_EQ(free, 0u) << "stopped: play and write cursor at 0";
    EXPECT_EQ(SndOutStart(f.snd), kSoundOk);
    f.device->Advance(400);
    EXPECT_EQ(f.device->Played(), std::vector<std::uint8_t>(400, bits == 8 ? 0x80 : 0));
  }
}

TEST(SndOutTest, WriteWrapsAndPlaysBackInOrder) {
  Fixture f;
  const auto first = Pattern(300, 1);
  ASSERT_EQ(SndOutWrite(f.snd, first.data(), 300), kSoundOk);
  EXPECT_EQ(f.snd.write_position, 300u);
  ASSERT_EQ(SndOutStart(f.snd), kSoundOk);
  f.device->Advance(200);
  std::uint32_t free = 0;
  ASSERT_EQ(SndOutFreeSpace(f.snd, &free), kSoundOk);
  EXPECT_EQ(free, 300u) << "100 bytes to the end, 200 from the start";
  const auto second = Pattern(300, 2);
  ASSERT_EQ(SndOutWrite(f.snd, second.data(), 300), kSoundOk);
  EXPECT_EQ(f.snd.write_position, 200u);
  f.device->Advance(400);
  std::vector<std::uint8_t> expected(first.begin(), first.end());
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(f.device->Played(), expected);
  // A zero-length write changes nothing.
  EXPECT_EQ(SndOutWrite(f.snd, second.data(), 0), kSoundOk);
  EXPECT_EQ(f.snd.write_position, 200u);
}

TEST(SndOutTest, FillSilenceFillsExactlyTheFreeSpace) {
  Fixture f;
  const auto data = Pattern(100, 3);
  SndOutWrite(f.snd, data.data(), 100);
  SndOutStart(f.snd);
  f.device->Advance(48);
  ASSERT_EQ(SndOutFillSilence(f.snd, 0x55), kSoundOk);
  EXPECT_EQ(f.snd.write_position, 48u) << "filled up to the play cursor";
  f.device->Advance(400);
  std::vector<std::uint8_t> expected(data);
  expected.insert(expected.end(), 348, 0x55);
  EXPECT_EQ(f.device->Played(), expected);
}

TEST(SndOutTest, CrossingsAndTheirUnderrunSignal) {
  Fixture f;
  SndOutStart(f.snd);
  EXPECT_EQ(SndOutWaitHalf(f.snd, 0, milliseconds(1000)), HalfWait::kSet)
      << "starting at 0 is a crossing of 0";
  EXPECT_EQ(SndOutWaitHalf(f.snd, 1, milliseconds(20)), HalfWait::kTimedOut);
  f.device->Advance(200);
  EXPECT_EQ(SndOutWaitHalf(f.snd, 1, milliseconds(1000)), HalfWait::kSet);
  // A whole lap passes before anyone waits: both crossings are set.
  f.device->Advance(400);
  EXPECT_EQ(SndOutWaitHalf(f.snd, 0, milliseconds(1000)), HalfWait::kBothSet);
  SndOutClearHalf(f.snd, 1);
  EXPECT_EQ(SndOutWaitHalf(f.snd, 1, milliseconds(20)), HalfWait::kTimedOut);
}

TEST(SndOutTest, WritePositionInsideTheCommittedRegionIsAnUnderrun) {
  struct Case {
    std::uint32_t advance;         // play cursor after the start
    std::uint32_t write_position;  // ours
    std::uint32_t expect_free;
    bool expect_underrun;
    std::uint32_t expect_position;
  };
  const Case cases[] = {
      {0, 200, 200, false, 200},    // normal: half written ahead
      {200, 0, 200, false, 0},      // normal after the wrap: 0 stays
      {300, 100, 200, false, 100},  // a partial block after the wrap is still ahead
      {380, 0, 350, true, 30},      // the committed region wraps over our 0
      {100, 120, 350, true, 150},   // overtaken: moved to the write cursor (100 + 50)
  };
  for (const Case& c : cases) {
    Fixture f;
    SndOutStart(f.snd);
    f.device->SetWriteAhead(50);
    f.device->Advance(c.advance);
    f.snd.write_position = c.write_position;
    std::uint32_t free = 0;
    ASSERT_EQ(SndOutFreeSpace(f.snd, &free), kSoundOk);
    EXPECT_EQ(f.snd.underrun, c.expect_underrun) << c.advance << "/" << c.write_position;
    EXPECT_EQ(f.snd.write_position, c.expect_position) << c.advance << "/" << c.write_position;
    EXPECT_EQ(free, c.expect_free) << c.advance << "/" << c.write_position;
  }
}

TEST(SndOutTest, VolumeIsAppliedToWhatPlays) {
  Fixture f(8, TSoundOut::MakeWaveFormat(1, 8000, 16));
  const std::int16_t samples[4] = {10000, -10000, 32767, 0};
  SndOutWrite(f.snd, reinterpret_cast<const std::uint8_t*>(samples), 8);
  EXPECT_EQ(SndOutSetVolume(f.snd, -2000), kSoundOk);  // 20 dB down: a tenth
  SndOutStart(f.snd);
  f.device->Advance(8);
  std::int16_t got[4];
  const std::vector<std::uint8_t> played = f.device->Played();
  std::memcpy(got, played.data(), 8);
  EXPECT_EQ(got[0], 1000);
  EXPECT_EQ(got[1], -1000);
  EXPECT_EQ(got[2], 3277);
  EXPECT_EQ(got[3], 0);
  f.device->SetVolumeAvailable(false);
  EXPECT_EQ(SndOutSetVolume(f.snd, 0), kSoundControlUnavail);
}

TEST(NullDeviceTest, ClockPlaysAtTheByteRateAndFaultsStopIt) {
  NullDevice device(3);
  EXPECT_EQ(device.Enumerate().size(), 3u);
  EXPECT_EQ(device.Create(3), kSoundNoDriver);
  ASSERT_EQ(device.Create(2), kSoundOk);
  // 8000 Hz mono 16-bit, 50 ms buffer: a crossing every 25 ms.
  ASSERT_EQ(device.InitBuffer(TSoundOut::MakeWaveFormat(1, 8000, 16), 800), kSoundOk);
  ASSERT_EQ(device.Play(true), kSoundOk);
  ASSERT_EQ(device.WaitHalf(0, milliseconds(1000)), HalfWait::kSet);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(device.WaitHalf(1, milliseconds(2000)), HalfWait::kTimedOut);
    EXPECT_NE(device.WaitHalf(0, milliseconds(2000)), HalfWait::kTimedOut);
  }
  EXPECT_GE(device.BytesPlayed(), 3u * 800) << "four laps, the last perhaps still being counted";
  device.StopForever();
  device.WaitHalf(1, milliseconds(100));  // a crossing already on its way may still land
  device.WaitHalf(0, milliseconds(100));
  EXPECT_EQ(device.WaitHalf(1, milliseconds(200)), HalfWait::kTimedOut);
  device.Close();
}

// Nobody takes what the clock owes between its thread's rounds; a stop still finds everything
// that was due by then played, as on a sound card, so a song's last stretch is not lost.
TEST(NullDeviceTest, AStopTakesWhatTheClockOwes) {
  NullDevice device;
  ASSERT_EQ(device.Create(0), kSoundOk);
  // 8000 Hz mono 16-bit, a 1 s buffer.
  ASSERT_EQ(device.InitBuffer(TSoundOut::MakeWaveFormat(1, 8000, 16), 16000), kSoundOk);
  ASSERT_EQ(device.Play(true), kSoundOk);
  const auto started = std::chrono::steady_clock::now();  // the device's clock runs since Play
  std::this_thread::sleep_for(milliseconds(60));          // before the clock thread's round
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  ASSERT_EQ(device.Stop(), kSoundOk);
  const std::uint64_t due = static_cast<std::uint64_t>(elapsed.count()) * 8000 / 1000000 * 2;
  EXPECT_GE(device.BytesPlayed(), std::min<std::uint64_t>(due, 16000));
  device.Close();
}

// A waiter keeps the clock itself; through a stall it takes nothing, and afterwards the device
// plays on from the stall's end, not from where the waiter last looked during it.
TEST(NullDeviceTest, AWaiterThroughAStallFindsTheDevicePlayingOnFromItsEnd) {
  NullDevice device;
  ASSERT_EQ(device.Create(0), kSoundOk);
  // 8000 Hz mono 16-bit (16 bytes a millisecond), 50 ms buffer: a crossing every 25 ms.
  ASSERT_EQ(device.InitBuffer(TSoundOut::MakeWaveFormat(1, 8000, 16), 800), kSoundOk);
  ASSERT_EQ(device.Play(true), kSoundOk);
  ASSERT_NE(device.WaitHalf(1, milliseconds(2000)), HalfWait::kTimedOut);
  // Shorter than the clock thread's round, which the play restarted: the waiter alone is there.
  const auto stall = milliseconds(100);
  const auto started = std::chrono::steady_clock::now();
  device.Stall(stall);
  const std::uint64_t before = device.BytesPlayed();
  device.ClearHalf(0);
  device.ClearHalf(1);
  ASSERT_NE(device.WaitHalf(0, milliseconds(5000)), HalfWait::kTimedOut);
  const auto now = std::chrono::steady_clock::now();
  EXPECT_GE(now - started, stall) << "a crossing during the stall";
  // What is due from the stall's end (at the latest) until now, and the lap the cursor may
  // have been into; a device counting from inside the stall would have played 100 ms more.
  const auto after_stall = std::chrono::duration_cast<milliseconds>(now - started - stall);
  EXPECT_LE(device.BytesPlayed() - before,
            static_cast<std::uint64_t>(after_stall.count()) * 16 + 800);
  device.Close();
}

TEST(WavDeviceTest, FastModeWritesEveryPassedByteWithAHeader) {
  test::TempFolder folder;
  const std::string path = (folder.Path() / "out.wav").string();
  {
    SndOut snd;
    snd.device = std::make_unique<WavDevice>(path, false);
    ASSERT_EQ(SndOutCreate(snd, 0), kSoundOk);
    ASSERT_EQ(SndOutInitBuffer(snd, TSoundOut::MakeWaveFormat(2, 44100, 16), 400), kSoundOk);
    const auto a = Pattern(200, 4);
    const auto b = Pattern(200, 5);
    SndOutWrite(snd, a.data(), 200);
    SndOutStart(snd);
    ASSERT_EQ(SndOutWaitHalf(snd, 0, milliseconds(100)), HalfWait::kSet);
    SndOutWrite(snd, b.data(), 200);
    ASSERT_EQ(SndOutWaitHalf(snd, 1, milliseconds(100)), HalfWait::kSet);  // a played
    SndOutWrite(snd, a.data(), 100);
    SndOutStop(snd);  // plays out b and the 100 bytes of a
    SndOutClose(snd);
    const std::string bytes = test::ReadFileBytes(path);
    const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
    ASSERT_EQ(file.size(), 44u + 500);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(file[40] | file[41] << 8, 500);
    std::vector<std::uint8_t> expected(a);
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), a.begin(), a.begin() + 100);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 44, file.end()), expected);
  }
}

TEST(SoundDeviceTest, FactoryNames) {
  EXPECT_NE(CreateSoundDevice("null"), nullptr);
  EXPECT_NE(CreateSoundDevice("wav:x.wav"), nullptr);
  EXPECT_NE(CreateSoundDevice("wav-realtime:x.wav"), nullptr);
  EXPECT_EQ(CreateSoundDevice("wav:"), nullptr);
  EXPECT_EQ(CreateSoundDevice("speaker"), nullptr);
}

}  // namespace
}  // namespace djkivo
