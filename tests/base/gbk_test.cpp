#include "base/gbk.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/gbk_text.h"

namespace djkivo {
namespace {

std::vector<std::size_t> CharLengths(std::string_view text) {
  std::vector<std::size_t> lengths;
  for (std::size_t pos = 0; pos < text.size(); pos += GbkCharLength(text, pos))
    lengths.push_back(GbkCharLength(text, pos));
  return lengths;
}

TEST(GbkTest, CharactersOfOneTwoAndFourBytes) {
  const struct {
    std::string_view text;
    std::vector<std::size_t> lengths;
  } kCases[] = {
      // ASCII, "狗", a four-byte GB18030 character, a trail byte "|" (0x7C), a lone "|".
      {"a\xb9\xb7\x81\x30\x81\x30\xb0\x7c|", {1, 2, 4, 2, 1}},
      {"\x81", {1}},                       // a lead byte at the end
      {"\x81\r\n", {1, 1, 1}},             // a lead byte never swallows a line break...
      {"\xb9 x", {1, 1, 1}},               // ...or a space
      {"\x81\x7f", {1, 1}},                // 0x7F is no trail byte
      {"\x81\x30\x81", {1, 1, 1}},         // a four-byte form cut short
      {"\x81\x30\x20\x30", {1, 1, 1, 1}},  // a four-byte form with no lead byte inside
      {"\xff\x40", {1, 1}},                // 0xFF leads nothing
  };
  for (const auto& c : kCases)
    EXPECT_EQ(CharLengths(c.text), c.lengths) << testing::PrintToString(std::string(c.text));
}

TEST(GbkTest, PrefixNeverEndsInPartOfACharacter) {
  const std::string_view kYunBo = "\xD4\xC6\xB2\xA5";  // two characters
  const std::string_view kFour = "a\x81\x30\x81\x30";  // "a" and one four-byte character
  const struct {
    std::string_view text;
    std::size_t max;
    std::size_t expected;
  } kCases[] = {
      {"abc", 2, 2},    {kYunBo, 4, 4}, {kYunBo, 3, 2}, {kYunBo, 1, 0}, {"a\xD4\xC6", 2, 1},
      {"ab\xD4", 3, 3},  // a lone lead byte at the end is one broken character
      {"", 10, 0},      {kFour, 5, 5},  {kFour, 4, 1},  {kFour, 3, 1},  {kFour, 2, 1},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(GbkPrefixLength(c.text, c.max), c.expected)
        << testing::PrintToString(std::string(c.text)) << " max " << c.max;
}

// A text cut at a character boundary converts for display, whatever the cut: this is what the
// tray's tooltip and the play list's stored fields rely on.
TEST(GbkTest, EveryPrefixOfMixedTextConverts) {
  const std::string text = Gbk("DJ 狗尾草 🎵 mix 云播放 ♪") + "|" + Gbk("𝄞 end");
  ASSERT_EQ(GbkToUtf8(text), "DJ 狗尾草 🎵 mix 云播放 ♪|𝄞 end");
  for (std::size_t max = 0; max <= text.size(); ++max) {
    const std::size_t length = GbkPrefixLength(text, max);
    EXPECT_LE(length, max);
    EXPECT_TRUE(GbkToUtf8(text.substr(0, length))) << "cut at " << max;
  }
}

}  // namespace
}  // namespace djkivo
