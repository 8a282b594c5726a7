#include "base/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace djkivo {
namespace {

struct Options {
  std::string device;
  std::string host;
  int minutes = 3;
  bool quiet = false;
  bool help = false;
};

std::vector<CommandLineOption> Table(Options& o) {
  return {
      {"--device", "DEVICE", "the sound device", &o.device},
      {"--host", "HOST[:PORT]", "the site", &o.host},
      {"--quiet", "", "say less", &o.quiet},
      {"--minutes", "N", "how long", &o.minutes},
      {"--help", "", "print this help and exit", &o.help, "-h"},
  };
}

struct Parsed {
  Options options;
  std::size_t next = 0;
};

Parsed Parse(const std::vector<std::string>& args) {
  Parsed parsed;
  parsed.next = ParseOptions(args, Table(parsed.options));
  return parsed;
}

TEST(CommandLineTest, ValuesInBothFormsFlagsAndTheEndOfTheOptions) {
  Parsed p = Parse(
      {"--device=wav:/x=y.wav", "--host", "h:81", "--quiet", "-h", "--minutes=-2", "play", "--x"});
  EXPECT_EQ(p.options.device, "wav:/x=y.wav");  // only the first "=" separates
  EXPECT_EQ(p.options.host, "h:81");
  EXPECT_TRUE(p.options.quiet);
  EXPECT_TRUE(p.options.help);
  EXPECT_EQ(p.options.minutes, -2);
  EXPECT_EQ(p.next, 6u);  // "play" and what follows it are the program's

  const struct {
    std::vector<std::string> args;
    std::size_t next;
  } kEnds[] = {
      {{}, 0},
      {{"--quiet"}, 1},
      {{"-", "--quiet"}, 0},             // "-" alone (standard input) is an argument
      {{"--", "--quiet"}, 1},            // after "--" nothing is an option
      {{"--device", "-x", "a"}, 2},      // a value may begin with a dash
      {{"--host=a", "--host", "b"}, 3},  // the last one counts
  };
  for (const auto& c : kEnds)
    EXPECT_EQ(Parse(c.args).next, c.next) << testing::PrintToString(c.args);
  EXPECT_EQ(Parse({"--host=a", "--host", "b"}).options.host, "b");
  EXPECT_FALSE(Parse({"--", "--quiet"}).options.quiet);
}

TEST(CommandLineTest, WrongUsageIsRefusedWithAMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } kCases[] = {
      {{"--device"}, "option --device needs a value"},
      {{"--device", ""}, "option --device needs a value"},
      {{"--device="}, "option --device needs a value"},
      {{"--quiet=yes"}, "option --quiet takes no value"},
      {{"--volume", "3"}, "unknown option: --volume"},
      {{"--volume=3"}, "unknown option: --volume"},
      {{"-q"}, "unknown option: -q"},
      {{"-h=1"}, "unknown option: -h=1"},
      {{"--dev"}, "unknown option: --dev"},  // no abbreviations
      {{"--minutes", "3m"}, "option --minutes needs a whole number: 3m"},
      {{"--minutes=99999999999"}, "option --minutes needs a whole number: 99999999999"},
      {{"--minutes", " 3"}, "option --minutes needs a whole number:  3"},
  };
  for (const auto& c : kCases) {
    try {
      Parse(c.args);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const EUsageError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(CommandLineTest, UsageTextListsEveryOptionAligned) {
  Options o;
  std::vector<CommandLineOption> table = Table(o);
  table.push_back({"--a-very-long-option-name", "SOMETHING", "its help", &o.host});
  EXPECT_EQ(UsageText("prog [OPTION]...", table, "More."),
            "usage: prog [OPTION]...\n"
            "options:\n"
            "  --device DEVICE       the sound device\n"
            "  --host HOST[:PORT]    the site\n"
            "  --quiet               say less\n"
            "  --minutes N           how long\n"
            "  -h, --help            print this help and exit\n"
            "  --a-very-long-option-name SOMETHING\n"
            "                        its help\n"
            "More.\n");
  EXPECT_TRUE(UsageText("prog", {}).ends_with("\n"));
}

TEST(CommandLineTest, ScdocListEscapesMarkup) {
  Options o;
  const std::vector<CommandLineOption> table = {
      {"--play_list", "PATH", "a *file*, not a \\dir", &o.host},
      {"--help", "", "print this help", &o.help, "-h"},
  };
  EXPECT_EQ(ScdocOptionList(table),
            "*--play\\_list* _PATH_\n"
            "\ta \\*file\\*, not a \\\\dir\n"
            "\n"
            "*-h*, *--help*\n"
            "\tprint this help\n");
}

}  // namespace
}  // namespace djkivo
