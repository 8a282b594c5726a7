// The window program's command-line conventions, run with no display at all: --help, -h and
// --version print to stdout and exit 0, wrong usage prints the usage to stderr and exits 64.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/program_options.h"
#include "tests/support/run_process.h"

namespace djkivo::app {
namespace {

test::ProcessResult RunWithoutDisplay(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/env",    "-u", "DISPLAY",         "-u",
                                   "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", DJKIVO_WINDOW_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProcess(argv);
}

TEST(WindowProgramTest, HelpAndVersionNeedNoDisplay) {
  for (const char* help : {"--help", "-h"}) {
    const test::ProcessResult result = RunWithoutDisplay({help});
    EXPECT_EQ(result.exit_code, 0) << help << ": " << result.err;
    EXPECT_EQ(result.out, WindowUsageText()) << help;
    EXPECT_EQ(result.err, "") << help;
  }
  const test::ProcessResult version = RunWithoutDisplay({"--version"});
  EXPECT_EQ(version.exit_code, 0) << version.err;
  EXPECT_EQ(version.out, "djkivo " DJKIVO_PROJECT_VERSION "\n");
}

TEST(WindowProgramTest, WrongUsageExits64WithTheUsageOnStderr) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } kCases[] = {
      {{"--volume", "3"}, "djkivo: unknown option: --volume\n"},
      {{"--device"}, "djkivo: option --device needs a value\n"},
      {{"song.mp3"}, "djkivo: unexpected argument: song.mp3\n"},
      {{"--help=yes"}, "djkivo: option --help takes no value\n"},
  };
  for (const auto& c : kCases) {
    const test::ProcessResult result = RunWithoutDisplay(c.args);
    EXPECT_EQ(result.exit_code, kExitUsage) << c.message;
    EXPECT_EQ(result.err, c.message + WindowUsageText());
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
}  // namespace djkivo::app
