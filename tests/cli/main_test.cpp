// djkivo-cli's command line: the options it shares with the window in both forms, --help, -h
// and --version on stdout with exit 0, wrong usage on stderr with exit 64, and its commands in
// the table's order.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace djkivo::cli {
namespace {

test::ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), DJKIVO_CLI_PATH);
  return test::RunProcess(args);
}

TEST(CliProgramTest, HelpAndVersionPrintToStdout) {
  for (const char* help : {"--help", "-h"}) {
    const test::ProcessResult result = Cli({help});
    EXPECT_EQ(result.exit_code, 0) << help << ": " << result.err;
    EXPECT_EQ(result.out, CliUsageText()) << help;
    EXPECT_EQ(result.err, "");
  }
  const test::ProcessResult version = Cli({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "djkivo-cli " DJKIVO_PROJECT_VERSION "\n");
}

TEST(CliProgramTest, WrongUsageExits64WithTheUsageOnStderr) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } kCases[] = {
      {{}, ""},
      {{"--device=null"}, ""},
      {{"--volume", "3", "play", "x"}, "djkivo-cli: unknown option: --volume\n"},
      {{"--playlist"}, "djkivo-cli: option --playlist needs a value\n"},
      {{"--catalogue-host="}, "djkivo-cli: option --catalogue-host needs a value\n"},
      {{"dance"}, "djkivo-cli: unknown command: dance\n"},
  };
  for (const auto& c : kCases) {
    const test::ProcessResult result = Cli(c.args);
    EXPECT_EQ(result.exit_code, kExitUsage) << c.message;
    EXPECT_EQ(result.err, c.message + CliUsageText());
    EXPECT_EQ(result.out, "");
  }
}

// The options the window takes, in both forms, reach the commands.
TEST(CliProgramTest, SharedOptionsInBothForms) {
  const std::string media = test::TestMediaPath(test::TestMedia::kMp3Cbr128, 1);
  for (const std::vector<std::string>& device :
       {std::vector<std::string>{"--device=null"}, std::vector<std::string>{"--device", "null"}}) {
    std::vector<std::string> args = device;
    args.insert(args.end(), {"play", media, "--seconds", "0.3"});
    const test::ProcessResult result = Cli(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
  }
  test::TempFolder folder;
  const std::string playlist = (folder.Path() / "list.txt").string();
  ASSERT_EQ(Cli({"--playlist=" + playlist, "playlist", "add", "7", "n", "u"}).exit_code, 0);
  EXPECT_EQ(test::ReadFileBytes(playlist), "n|u|7\r\n");
}

TEST(CliProgramTest, UsageListsTheCommandsInTableOrder) {
  std::istringstream usage(CliUsageText());
  std::string line;
  while (std::getline(usage, line) && line != "commands:") {
  }
  std::vector<std::string> listed;
  while (std::getline(usage, line))
    if (line.starts_with("  ") && line[2] != ' ')
      listed.push_back(line.substr(2, line.find(' ', 2) - 2));
  EXPECT_EQ(listed, (std::vector<std::string>{"fetch", "scrape", "resolve", "match", "play", "list",
                                              "search", "playlist"}));
  for (const Command* command : Commands())
    EXPECT_EQ(FindCommand(command->name), command);
  EXPECT_EQ(FindCommand("dance"), nullptr);
}

TEST(CliProgramTest, ManualPageListsComeFromTheTables) {
  const test::ProcessResult options = test::RunProcess({DJKIVO_OPTION_LIST_PATH, "djkivo-cli"});
  EXPECT_EQ(options.exit_code, 0);
  EXPECT_NE(options.out.find("*--catalogue-host* _HOST[:PORT]_\n\t"), std::string::npos)
      << options.out;
  EXPECT_NE(options.out.find("*-h*, *--help*\n"), std::string::npos);
  const test::ProcessResult window = test::RunProcess({DJKIVO_OPTION_LIST_PATH, "djkivo"});
  EXPECT_NE(window.out.find("*--screenshot* _PNG_\n"), std::string::npos) << window.out;
  const test::ProcessResult commands =
      test::RunProcess({DJKIVO_OPTION_LIST_PATH, "djkivo-cli-commands"});
  EXPECT_TRUE(commands.out.starts_with("*fetch* URL\n")) << commands.out;
  // Every command is one line; scdoc would take an indented line for markup of its own.
  EXPECT_EQ(commands.out.find("\n "), std::string::npos) << commands.out;
  EXPECT_EQ(test::RunProcess({DJKIVO_OPTION_LIST_PATH}).exit_code, kExitUsage);
}

}  // namespace
}  // namespace djkivo::cli
