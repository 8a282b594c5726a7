// djkivo-cli play: a file through the whole chain into a WAV file, the --levels lines, and
// the exit status of a stream that cannot be played.
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "demo/demo_site.h"
#include "tests/support/poll.h"
#include "tests/support/run_process.h"
#include "tests/support/short_demo_site.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

TEST(PlayCommandTest, PlaysIntoAWavFileAndPrintsLevels) {
  const std::string media = test::TestMediaPath(test::TestMedia::kMp3Cbr128, 2);
  test::TempFolder folder;
  const std::string wav = (folder.Path() / "out.wav").string();
  // The global --device and the command's own: the command's wins.
  const test::ProcessResult result =
      test::RunProcess({DJKIVO_CLI_PATH, "--device", "null", "play", media, "--device",
                        "wav:" + wav, "--levels", "--volume", "-600"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string& out = result.out;
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
}

TEST(PlayCommandTest, FailuresExitNonZeroWithAMessage) {
  test::TempFolder folder;
  const std::string missing = (folder.Path() / "missing.mp3").string();
  const std::vector<std::string> cases[] = {
      {DJKIVO_CLI_PATH, "play", missing, "--device", "null"},
      {DJKIVO_CLI_PATH, "play", missing, "--device", "speaker"},
      {DJKIVO_CLI_PATH, "play"},
      {DJKIVO_CLI_PATH, "play", missing, "--seconds", "soon"},
  };
  for (const auto& args : cases) {
    const test::ProcessResult result = test::RunProcess(args);
    EXPECT_NE(result.exit_code, 0) << args.size();
    EXPECT_NE(result.err.find("djkivo-cli play: "), std::string::npos) << result.err;
  }
}

// A song from the network: a drop that is ridden out plays to the end and exits 0; one that
// comes back as gone ends the song early, which exits 1 with the reason.
TEST(PlayCommandTest, ASongThatEndsEarlyExitsNonZeroWithTheReason) {
  const std::unique_ptr<demo::DemoSite> started = test::StartShortDemoSite();
  demo::DemoSite& site = *started;
  const demo::DemoSong& song = site.Catalogue().Songs()[0];
  const std::string address = site.BaseAddress() + "/audio/" + song.id + ".mp3";
  site.EnsureAudio(song, demo::AudioFormat::kMp3);
  const struct {
    const char* back;               // the site once the network is back
    const char* reconnect_minutes;  // --reconnect-minutes, when given
    int exit_code;
    const char* message;
  } kCases[] = {
      {"", nullptr, 0, ""},
      {"404", nullptr, 1,
       "djkivo-cli play: The stream ended early: Server returned 404 Not Found\n"},
      {"", "0", 1, "djkivo-cli play: The stream ended early: "},  // no reconnecting at all
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.back) + (c.reconnect_minutes ? " reconnect 0" : ""));
    site.ClearRequests();
    site.SetStreamFaults(demo::ParseFaults("drop=1@12000"));
    std::thread switcher([&] {
      if (test::PollUntil([&] { return site.RefusedUntil() > std::chrono::steady_clock::now(); },
                          std::chrono::seconds(20)))
        site.SetStreamFaults(demo::ParseFaults(c.back));
    });
    std::vector<std::string> command = {DJKIVO_CLI_PATH};
    if (c.reconnect_minutes)
      command.insert(command.end(), {"--reconnect-minutes", c.reconnect_minutes});
    command.insert(command.end(), {"play", address, "--device", "null"});
    const test::ProcessResult result = test::RunProcess(command);
    switcher.join();
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    if (*c.message)
      EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    else
      EXPECT_EQ(result.err.find("djkivo-cli play: "), std::string::npos) << result.err;
  }
}

TEST(PlayCommandTest, SecondsEndsALongerFile) {
  const std::string media = test::TestMediaPath(test::TestMedia::kMp3Cbr128, 5);
  const test::ProcessResult result =
      test::RunProcess({DJKIVO_CLI_PATH, "play", media, "--device", "null", "--seconds", "1"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
}

}  // namespace
}  // namespace djkivo
