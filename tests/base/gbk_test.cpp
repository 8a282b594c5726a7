#include "base/gbk.h"

#include <gtest/gtest.h>

namespace djkivo {
namespace {

TEST(GbkTest, PrefixNeverEndsInHalfACharacter) {
  const std::string_view kYunBo = "\xD4\xC6\xB2\xA5";  // two characters
  struct Case {
    std::string_view text;
    std::size_t max;
    std::size_t expected;
  } cases[] = {
      {"abc", 2, 2},       {kYunBo, 4, 4},   {kYunBo, 3, 2}, {kYunBo, 1, 0},
      {"a\xD4\xC6", 2, 1}, {"ab\xD4", 3, 3},  // a lone lead byte at the end is one broken character
      {"", 10, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GbkPrefixLength(c.text, c.max), c.expected) << c.text << " max " << c.max;
}

}  // namespace
}  // namespace djkivo
