#include "base/query_value.h"

#include <gtest/gtest.h>

namespace djkivo {
namespace {

TEST(QueryValueTest, EncodesAsTheSearchFormDoes) {
  const struct {
    const char* value;
    const char* encoded;
  } kCases[] = {
      {"\xB9\xB7\xCE\xB2\xB2\xDD", "%B9%B7%CE%B2%B2%DD"},  // the default keyword "狗尾草"
      {"a b", "a+b"},
      {"", ""},
      {"AZaz09*@._-$!'()", "AZaz09*@._-$!'()"},
      {"&=+/?%#~\"", "%26%3D%2B%2F%3F%25%23%7E%22"},
      {"\t\r\n\x7f\xff", "%09%0D%0A%7F%FF"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EncodeQueryValue(c.value), c.encoded) << c.value;
    EXPECT_EQ(DecodeQueryValue(c.encoded), c.value) << c.encoded;
  }
}

TEST(QueryValueTest, DecodingLeavesMalformedEscapesAlone) {
  EXPECT_EQ(DecodeQueryValue("%"), "%");
  EXPECT_EQ(DecodeQueryValue("%4"), "%4");
  EXPECT_EQ(DecodeQueryValue("%4G%41"), "%4GA");
  EXPECT_EQ(DecodeQueryValue("%e7%8b%97+x"), "\xe7\x8b\x97 x");  // lower-case digits too
}

}  // namespace
}  // namespace djkivo
