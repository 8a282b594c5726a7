// End to end: files made by the ffmpeg tool, decoded through the whole chain (stream input,
// cache, spectrum analyser, sound output) into the WAV device, compared with the tool's own
// decode.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/main_thread.h"
#include "tests/support/play_chain.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using std::chrono::milliseconds;

class WavChainTest : public ::testing::TestWithParam<test::TestMedia> {};

TEST_P(WavChainTest, PlaysTheToolsDecodeFollowedOnlyBySilence) {
  const std::string media = test::TestMediaPath(GetParam(), 3);
  const std::vector<std::uint8_t> expected = test::DecodeWithFfmpegTool(media);
  ASSERT_GT(expected.size(), 50000u);
  test::TempFolder folder;
  const std::string wav = (folder.Path() / "out.wav").string();

  QueueMainThread main;
  MainThread::Install(&main);
  int reports = 0;
  {
    test::PlayChain chain("wav:" + wav);
    chain.stream.SetOrigin(AddressOrigin::kUser);
    chain.stream.SetFileName(media);
    chain.analyser.SetOnGainData([&](TComponent*) { ++reports; });
    chain.out.Run();
    ASSERT_TRUE(main.PumpUntil([&] { return chain.done > 0; }, milliseconds(30000)));
    EXPECT_EQ(chain.error, "");
    // 3 s of audio, a report per 100 ms of audio time, or per pull when a pull holds more
    // (1536 mono samples at 11025 Hz are 139 ms; the excess is not carried).
    EXPECT_GE(reports, 20);
    EXPECT_LE(reports, 30);
    const TSpectrumLevels levels = chain.analyser.Levels();
    EXPECT_GT(levels[0] + levels[1], -80.0f) << "a tone is not silence";
  }
  MainThread::Install(nullptr);

  const std::string file = test::ReadFileBytes(wav);
  ASSERT_GT(file.size(), 44u);
  const std::vector<std::uint8_t> played(file.begin() + 44, file.end());
  ASSERT_GE(played.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), played.begin()))
      << "the chain's PCM differs from the tool's";
  for (std::size_t i = expected.size(); i < played.size(); ++i)
    ASSERT_EQ(played[i], 0) << "not silence after the end, at " << i;
}

INSTANTIATE_TEST_SUITE_P(Files, WavChainTest,
                         ::testing::Values(test::TestMedia::kMp3Cbr128, test::TestMedia::kWma,
                                           test::TestMedia::kWav8Mono));

}  // namespace
}  // namespace djkivo
