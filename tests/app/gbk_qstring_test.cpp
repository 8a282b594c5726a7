#include "app/gbk_qstring.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(GbkQStringTest, BytesDecodeForDisplayAndBadSequencesDoNotHideTheRest) {
  const struct {
    std::string gbk;
    const char* shown;  // UTF-8
  } cases[] = {
      {"", ""},
      {"DJ mix", "DJ mix"},
      {"\xD6\xD0\xCE\xC4", "中文"},
      {"ab\xD6", "ab\xEF\xBF\xBD"},                  // a name cut inside a character
      {"\xD6\xD0\xFF\xCE\xC4", "中\xEF\xBF\xBD文"},  // a byte that starts nothing
      {"\xB9\xB7\xCE\xB2\xB2\xDD|x", "狗尾草|x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FromGbkText(c.gbk).toUtf8().toStdString(), c.shown) << c.shown;
}

TEST(GbkQStringTest, TypedTextBecomesGbkBytes) {
  EXPECT_EQ(ToGbkText(QString::fromUtf8("狗尾草")), "\xB9\xB7\xCE\xB2\xB2\xDD");
  EXPECT_EQ(ToGbkText(QStringLiteral("dj mix")), "dj mix");
  EXPECT_EQ(ToGbkText(QString()), "");
  // A character GBK lacks still converts (to its four-byte GB18030 form) and comes back.
  const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5");
  EXPECT_EQ(FromGbkText(ToGbkText(emoji)), emoji);
}

}  // namespace
}  // namespace djkivo::app
