// djkivo-cli play: a file through the whole chain into a WAV file, the --levels lines, and
// the exit status of a stream that cannot be played.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_media.h"

namespace djkivo {
namespace {

TEST(PlayCommandTest, PlaysIntoAWavFileAndPrintsLevels) {
  const std::string media = test::TestMediaPath(test::TestMedia::kMp3Cbr128, 2);
  char pattern[] = "/tmp/djkivo-play-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string wav = std::string(pattern) + "/out.wav";
  std::string out;
  // The global --device and the command's own: the command's wins.
  ASSERT_EQ(test::RunTool({DJKIVO_CLI_PATH, "--device", "null", "play", media, "--device",
                           "wav:" + wav, "--levels", "--volume", "-600"},
                          &out),
            0);
  std::ifstream file(wav, std::ios::binary | std::ios::ate);
  ASSERT_TRUE(file.good());
  EXPECT_GT(static_cast<long>(file.tellg()), 44 + 2 * 176400 - 20000L);
  const std::regex line(R"((-?\d+\.\d ){8}\|[ .:\-=+*#%@]{8}\|)");
  std::istringstream lines(out);
  std::string text;
  int count = 0;
  while (std::getline(lines, text)) {
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    ++count;
  }
  EXPECT_GE(count, 15) << "2 s of audio, a line per 100 ms";
  std::remove(wav.c_str());
  rmdir(pattern);
}

TEST(PlayCommandTest, FailuresExitNonZero) {
  EXPECT_NE(test::RunTool({DJKIVO_CLI_PATH, "play", "/nonexistent/song.mp3", "--device", "null"}),
            0);
  EXPECT_NE(test::RunTool({DJKIVO_CLI_PATH, "play", "x.mp3", "--device", "speaker"}), 0);
  EXPECT_NE(test::RunTool({DJKIVO_CLI_PATH, "play"}), 0);
  EXPECT_NE(test::RunTool({DJKIVO_CLI_PATH, "play", "x.mp3", "--seconds", "soon"}), 0);
}

TEST(PlayCommandTest, SecondsEndsALongerFile) {
  const std::string media = test::TestMediaPath(test::TestMedia::kMp3Cbr128, 5);
  EXPECT_EQ(test::RunTool({DJKIVO_CLI_PATH, "play", media, "--device", "null", "--seconds", "1"}),
            0);
}

}  // namespace
}  // namespace djkivo
