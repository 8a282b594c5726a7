#include "app/core/window_options.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(WindowOptionsTest, ValuesInBothFormsAndTheDemoSwitch) {
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

  WindowOptions none = ParseWindowOptions({});
  EXPECT_FALSE(none.demo);
  EXPECT_TRUE(none.catalogue_host.empty());
  EXPECT_TRUE(ParseWindowOptions({"-h"}).help);
}

TEST(WindowOptionsTest, WrongArgumentsAreRefusedWithAMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--device"}, "option --device needs a value"},
      {{"--playlist", ""}, "option --playlist needs a value"},
      {{"--home-host="}, "option --home-host needs a value"},
      {{"--volume", "3"}, "unknown option: --volume"},
      {{"song.mp3"}, "unexpected argument: song.mp3"},
  };
  for (const auto& c : cases) {
    try {
      ParseWindowOptions(c.args);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace djkivo::app
