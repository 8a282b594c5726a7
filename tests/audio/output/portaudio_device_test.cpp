// The PortAudio back end, pulling real bytes through its callback. ALSA's default device is
// pointed at the `file` plugin over a `null` sink, so the test needs no sound card and the
// file holds exactly what the callback handed to ALSA.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/output/portaudio_device.h"
#include "audio/output/snd_out.h"
#include "audio/output/sound_out.h"
#include "tests/support/temp_folder.h"

namespace djkivo {
namespace {

using std::chrono::milliseconds;

class PortAudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    raw_ = (folder_.Path() / "out.raw").string();
    const std::string conf =
        folder_
            .Write("asound.conf",
                   "pcm.!default {\n  type file\n  slave { pcm { type null } }\n"
                   "  file \"" +
                       raw_ + "\"\n  format \"raw\"\n}\n")
            .string();
    // Read by ALSA when PortAudio initialises it, so it must be set before the device exists.
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  }

  test::TempFolder folder_;
  std::string raw_;
};

TEST_F(PortAudioDeviceTest, CallbackPlaysExactlyWhatWasWritten) {
  constexpr std::uint32_t kSize = 17640;  // 100 ms of 44.1 kHz 16-bit stereo
  std::vector<std::uint8_t> pattern(kSize);
  for (std::uint32_t i = 0; i < kSize; ++i)
    pattern[i] = static_cast<std::uint8_t>((i * 13) % 251 + 1);  // never 0, unlike silence
  {
    SndOut snd;
    snd.device = std::make_unique<PortAudioDevice>();
    std::vector<SoundDeviceEntry> list;
    SndOutEnumerate(snd, list);
    ASSERT_FALSE(list.empty()) << "no PortAudio output device";
    EXPECT_EQ(list[0].id, "");
    ASSERT_EQ(SndOutCreate(snd, 0), kSoundOk);
    ASSERT_EQ(SndOutCreate(snd, static_cast<int>(list.size())), kSoundNoDriver);
    ASSERT_EQ(SndOutCreate(snd, 0), kSoundOk);
    ASSERT_EQ(SndOutInitBuffer(snd, TSoundOut::MakeWaveFormat(2, 44100, 16), kSize), kSoundOk);
    ASSERT_EQ(SndOutWrite(snd, pattern.data(), kSize), kSoundOk);
    ASSERT_EQ(SndOutStart(snd), kSoundOk);
    ASSERT_EQ(SndOutWaitHalf(snd, 0, milliseconds(5000)), HalfWait::kSet);
    ASSERT_NE(SndOutWaitHalf(snd, 1, milliseconds(5000)), HalfWait::kTimedOut);
    ASSERT_NE(SndOutWaitHalf(snd, 0, milliseconds(5000)), HalfWait::kTimedOut);
    SndOutStop(snd);
    SndOutClose(snd);
  }
  std::ifstream in(raw_, std::ios::binary);
  const std::vector<std::uint8_t> out{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
  std::size_t start = 0;
  while (start < out.size() && out[start] == 0)
    ++start;
  ASSERT_GE(out.size() - start, kSize) << "less than one lap reached ALSA";
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), out.begin() + static_cast<long>(start)))
      << "the lap that reached ALSA differs from the buffer";
}

}  // namespace
}  // namespace djkivo
