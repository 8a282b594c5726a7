#include "base/gbk_text.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace djkivo {
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

TEST(GbkTextTest, OwnTextsConvertOrThrow) {
  EXPECT_EQ(Gbk("狗尾草 a"), "\xB9\xB7\xCE\xB2\xB2\xDD a");
  EXPECT_THROW(Gbk("\xB9\xB7"), std::invalid_argument);
}

// Each thread keeps its own converter; a failed conversion leaves it ready for the next text.
TEST(GbkTextTest, ConvertersSurviveFailuresAndThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&wrong] {
      for (int i = 0; i < 200; ++i) {
        if (GbkToUtf8("\xB9") || Utf8ToGbk("\xE7\x8B") || GbkToUtf8("\xB9\xB7") != "\xE7\x8B\x97" ||
            Utf8ToGbk("\xE7\x8B\x97") != "\xB9\xB7")
          ++wrong;
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace djkivo
