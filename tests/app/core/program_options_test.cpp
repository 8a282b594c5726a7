#include "app/core/program_options.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(ProgramOptionsTest, WindowValuesInBothFormsAndItsSwitches) {
  WindowOptions options = ParseWindowOptions(
      {"--demo", "--catalogue-host", "127.0.0.1:8080", "--home-host=home:81", "--playlist",
       "/x/my list.txt", "--device=wav:/x/out.wav", "--screenshot", "shot.png"});
  EXPECT_TRUE(options.demo);
  EXPECT_EQ(options.catalogue_host, "127.0.0.1:8080");
  EXPECT_EQ(options.home_host, "home:81");
  EXPECT_EQ(options.playlist, "/x/my list.txt");
  EXPECT_EQ(options.device, "wav:/x/out.wav");
  EXPECT_EQ(options.screenshot, "shot.png");
  EXPECT_FALSE(options.help);
  EXPECT_FALSE(options.version);

  WindowOptions none = ParseWindowOptions({});
  EXPECT_FALSE(none.demo);
  EXPECT_TRUE(none.catalogue_host.empty());
  EXPECT_EQ(none.reconnect_minutes, -1);
  EXPECT_EQ(ParseWindowOptions({"--reconnect-minutes", "0"}).reconnect_minutes, 0);
  EXPECT_EQ(ParseWindowOptions({"--reconnect-minutes=45"}).reconnect_minutes, 45);
  EXPECT_TRUE(ParseWindowOptions({"-h"}).help);
  EXPECT_TRUE(ParseWindowOptions({"--help"}).help);
  EXPECT_TRUE(ParseWindowOptions({"--version"}).version);
}

TEST(ProgramOptionsTest, NetworkOptionsGiveTheNetworkSettings) {
  const WindowOptions options = ParseWindowOptions(
      {"--demo", "--tls", "--ca-file", "/etc/mirror-ca.pem", "--proxy=http://u:p@proxy:3128"});
  EXPECT_TRUE(options.tls);
  const net::TNetworkSettings settings = NetworkSettings(options);
  EXPECT_EQ(settings.ca_file, "/etc/mirror-ca.pem");
  EXPECT_EQ(settings.proxy, "http://u:p@proxy:3128");
  EXPECT_EQ(settings.no_proxy, "");
  EXPECT_EQ(NetworkSettings(ParseWindowOptions({})), net::TNetworkSettings());
}

TEST(ProgramOptionsTest, WindowRefusesWrongArgumentsWithAMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--device"}, "option --device needs a value"},
      {{"--playlist", ""}, "option --playlist needs a value"},
      {{"--home-host="}, "option --home-host needs a value"},
      {{"--demo=1"}, "option --demo takes no value"},
      {{"--volume", "3"}, "unknown option: --volume"},
      {{"song.mp3"}, "unexpected argument: song.mp3"},
      {{"--reconnect-minutes", "3m"}, "option --reconnect-minutes needs a whole number: 3m"},
      {{"--demo", "--", "--help"}, "unexpected argument: --help"},
  };
  for (const auto& c : cases) {
    try {
      ParseWindowOptions(c.args);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const EUsageError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

// Each program's table holds each name once, and the window's ends with the shared options, so
// an option added to the shared table reaches both programs.
TEST(ProgramOptionsTest, TablesHoldEachNameOnceAndShareTheCommonPart) {
  WindowOptions window;
  const std::vector<CommandLineOption> window_table = WindowOptionTable(window);
  SharedOptions shared;
  const std::vector<CommandLineOption> shared_table = SharedOptionTable(shared);
  std::set<std::string_view> names;
  for (const CommandLineOption& option : window_table) {
    EXPECT_TRUE(option.name.starts_with("--")) << option.name;
    EXPECT_TRUE(names.insert(option.name).second) << option.name;
    if (!option.short_name.empty()) {
      EXPECT_TRUE(names.insert(option.short_name).second) << option.short_name;
    }
    EXPECT_FALSE(option.help.empty()) << option.name;
  }
  ASSERT_GE(window_table.size(), shared_table.size());
  const std::size_t offset = window_table.size() - shared_table.size();
  for (std::size_t i = 0; i < shared_table.size(); ++i) {
    EXPECT_EQ(window_table[offset + i].name, shared_table[i].name);
    EXPECT_EQ(window_table[offset + i].help, shared_table[i].help);
  }
  for (const char* name :
       {"--catalogue-host", "--home-host", "--playlist", "--device", "--ca-file", "--proxy"})
    EXPECT_TRUE(std::any_of(shared_table.begin(), shared_table.end(),
                            [&](const CommandLineOption& o) { return o.name == name; }))
        << name;
}

TEST(ProgramOptionsTest, UsageAndVersionTexts) {
  const std::string usage = WindowUsageText();
  EXPECT_TRUE(usage.starts_with("usage: djkivo ")) << usage;
  EXPECT_TRUE(usage.ends_with("\n"));
  WindowOptions options;
  for (const CommandLineOption& option : WindowOptionTable(options)) {
    EXPECT_NE(usage.find(option.name), std::string::npos) << option.name;
    EXPECT_NE(usage.find(option.help), std::string::npos) << option.name;
  }
  EXPECT_EQ(VersionText("djkivo"), "djkivo " DJKIVO_PROJECT_VERSION "\n");
}

}  // namespace
}  // namespace djkivo::app
