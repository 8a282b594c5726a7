// The INI value the sound output keeps its calibrated latency in: reading a key where it is and
// nowhere else, and writing it back without disturbing the rest of the file.
#include "audio/output/ini_file.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace djkivo {
namespace {

TEST(IniFileTest, ReadsTheKeyOfItsOwnSectionOnly) {
  test::TempFolder folder;
  const struct {
    const char* text;
    std::optional<std::string> value;
  } kCases[] = {
      {"[AudioOutput]\nLatency=120\n", "120"},
      {"[audiooutput]\r\n  latency = 130 \r\n", "130"},  // any case, blanks and CR around
      {"[Other]\nLatency=7\n[AudioOutput]\nKeep=1\n", std::nullopt},
      {"Latency=7\n[AudioOutput]\n", std::nullopt},  // before any section
      {"[AudioOutput]\nLatency=1\n[AudioOutput]\nLatency=2\n", "1"},
      {"[AudioOutput]\nLatency=\n", ""},
  };
  for (const auto& c : kCases) {
    const std::string path = folder.Write("player.ini", c.text).string();
    EXPECT_EQ(ReadIniValue(path, "AudioOutput", "Latency"), c.value) << c.text;
  }
  EXPECT_EQ(ReadIniValue((folder.Path() / "missing.ini").string(), "AudioOutput", "Latency"),
            std::nullopt);
}

TEST(IniFileTest, WritesTheKeyInPlaceAndKeepsEveryOtherLine) {
  test::TempFolder folder;
  const struct {
    const char* before;
    const char* after;
  } kCases[] = {
      {"[Other]\nLatency=7\n[audiooutput]\nKeep=1\n",
       "[Other]\nLatency=7\n[audiooutput]\nLatency=130\nKeep=1\n"},
      {"[AudioOutput]\nKeep=1\nLatency=9\n", "[AudioOutput]\nKeep=1\nLatency=130\n"},
      {"; comment\n", "; comment\n[AudioOutput]\nLatency=130\n"},
      {"", "[AudioOutput]\nLatency=130\n"},
  };
  for (const auto& c : kCases) {
    const std::string path = folder.Write("player.ini", c.before).string();
    EXPECT_TRUE(WriteIniValue(path, "AudioOutput", "Latency", "130"));
    EXPECT_EQ(test::ReadFileBytes(path), c.after) << c.before;
  }
  EXPECT_FALSE(
      WriteIniValue((folder.Path() / "no" / "such.ini").string(), "AudioOutput", "Latency", "130"));
}

}  // namespace
}  // namespace djkivo
