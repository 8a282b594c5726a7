#include "app/core/gbk_text.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(GbkTextTest, ConvertsBothWaysAndRefusesBrokenText) {
  EXPECT_EQ(Utf8ToGbk("\xE7\x8B\x97\xE5\xB0\xBE\xE8\x8D\x89 a"), "\xB9\xB7\xCE\xB2\xB2\xDD a");
  EXPECT_EQ(GbkToUtf8("\xB9\xB7\xCE\xB2\xB2\xDD a"), "\xE7\x8B\x97\xE5\xB0\xBE\xE8\x8D\x89 a");
  EXPECT_EQ(Utf8ToGbk(""), "");
  // A character outside GBK takes the four-byte GB18030 form and converts back unchanged.
  const auto emoji = Utf8ToGbk("\xF0\x9F\x8E\xB5");
  ASSERT_TRUE(emoji);
  EXPECT_EQ(emoji->size(), 4u);
  EXPECT_EQ(GbkToUtf8(*emoji), "\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Utf8ToGbk("\xB9\xB7"), std::nullopt);  // GBK bytes are no UTF-8
  EXPECT_EQ(GbkToUtf8("a\xB9"), std::nullopt);     // half a character
}

}  // namespace
}  // namespace djkivo::app
