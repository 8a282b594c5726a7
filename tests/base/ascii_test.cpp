#include "base/ascii.h"

#include <gtest/gtest.h>

namespace djkivo {
namespace {

TEST(AsciiTest, OnlyTheSevenBitLettersHaveACase) {
  for (int c = 0; c < 256; ++c) {
    const auto byte = static_cast<unsigned char>(c);
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    EXPECT_EQ(AsciiLower(byte), upper ? c + 32 : c) << c;
    EXPECT_EQ(AsciiUpper(byte), lower ? c - 32 : c) << c;
    EXPECT_EQ(AsciiLower(static_cast<char>(c)), static_cast<char>(AsciiLower(byte))) << c;
    EXPECT_EQ(IsAsciiLetter(byte), upper || lower) << c;
    EXPECT_EQ(IsAsciiAlnum(byte), upper || lower || (c >= '0' && c <= '9')) << c;
  }
  // GBK bytes stay as they are: "狗尾草" and a lead byte followed by an ASCII trail byte.
  EXPECT_EQ(AsciiLowered("A\xB9\xB7\xCE\xB2\xB2\xDD\x81Z"), "a\xB9\xB7\xCE\xB2\xB2\xDD\x81z");
  EXPECT_EQ(AsciiUppered("Content-Type: x\xE9"), "CONTENT-TYPE: X\xE9");
}

TEST(AsciiTest, CaseInsensitiveEquality) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } kCases[] = {
      {"gzip", "GZip", true},    {"", "", true},        {"chunked", "chunke", false},
      {"a\xC1", "A\xE1", false}, {"[x]", "{X}", false}, {"Keep-Alive", "keep-alive", true},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(IEquals(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(AsciiTest, TrimsBytesUpToSpaceAtBothEndsOnly) {
  EXPECT_EQ(Trimmed(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(Trimmed("\xb9\xb7 "), "\xb9\xb7");
  EXPECT_EQ(Trimmed(" \n "), "");
  EXPECT_EQ(Trimmed("\x7f!\xa0"), "\x7f!\xa0");  // DEL and GBK bytes are no blanks
}

}  // namespace
}  // namespace djkivo
