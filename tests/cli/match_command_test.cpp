// djkivo-cli match: groups, --all, --groups, --replace, exit codes and bad patterns, run as
// the real executable over files and standard input.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

class MatchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "djkivo-match-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg)
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  // Runs djkivo-cli match with `args`; `stdin_text` is fed on standard input.
  int Run(const std::vector<std::string>& args, const std::string& stdin_text = "") {
    std::string command = Quote(DJKIVO_CLI_PATH) + " match";
    for (const std::string& arg : args)
      command += " " + Quote(arg);
    command += " < " + Quote(Write("stdin", stdin_text)) + " > " + Quote(dir_ + "/out") + " 2> " +
               Quote(dir_ + "/err");
    int status = std::system(command.c_str());
    out_ = djkivo::test::ReadFileBytes(dir_ + "/out");
    err_ = djkivo::test::ReadFileBytes(dir_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_, out_, err_;
};

TEST_F(MatchCommandTest, PrintsEveryGroupOfTheFirstMatchOrOfAll) {
  const std::string file = Write("page", "id=12 x id=345 y");
  EXPECT_EQ(Run({"id=(\\d+) (x)?", file}), 0);
  EXPECT_EQ(out_, "id=12 x\t12\tx\n");
  EXPECT_EQ(Run({"id=(\\d+) (x)?", file, "--all"}), 0);
  EXPECT_EQ(out_, "id=12 x\t12\tx\nid=345 \t345\t\n");  // an unset group prints empty
  EXPECT_EQ(Run({"--all", "id=(\\d+) (x)?", file, "--groups", "2,1"}), 0);
  EXPECT_EQ(out_, "x\t12\n\t345\n");
}

TEST_F(MatchCommandTest, ReadsStandardInputAndKeepsBytes) {
  const std::string gbk = "<b>\xC9\xCF\xBA\xA3</b>\r\n";
  EXPECT_EQ(Run({"(?i)<B>(.+?)</b>", "-", "--groups", "1"}, gbk), 0);
  EXPECT_EQ(out_, "\xC9\xCF\xBA\xA3\n");
}

TEST_F(MatchCommandTest, ReplaceExpandsTemplates) {
  EXPECT_EQ(Run({"(?i)<.+?>", "-", "--replace", ""}, "a<b>x</b>\r\n<i\r\n>y</i>"), 0);
  EXPECT_EQ(out_, "ax\r\ny");
  EXPECT_EQ(Run({"(\\w+)@(\\w+)", "-", "--replace", "$2 at ${1}"}, "a@b c@d"), 0);
  EXPECT_EQ(out_, "b at a d at c");
}

TEST_F(MatchCommandTest, NoMatchIsSuccessAndBadPatternsExitTwo) {
  EXPECT_EQ(Run({"zzz", "-"}, "abc"), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Run({"a{3,2}", "-"}, "abc"), 2);
  EXPECT_EQ(err_, "TPatternMatcher(comp): BRACE Min Param Greater then Max (pos 6)\n");
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Run({"(a", "-", "--replace", "x"}, "abc"), 2);
  EXPECT_EQ(err_, "TPatternMatcher(comp): ParseReg Unmatched () (pos 2)\n");
}

TEST_F(MatchCommandTest, UsageErrorsAndMissingFiles) {
  EXPECT_EQ(Run({"a"}), 64);
  EXPECT_EQ(Run({"a", "-", "--groups", "x"}), 64);
  EXPECT_NE(Run({"a", dir_ + "/missing"}), 0);
  EXPECT_NE(err_.find("cannot read"), std::string::npos);
}

}  // namespace
