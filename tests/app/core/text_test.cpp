#include "app/core/text.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(SplitStringTest, OneElementMoreThanSeparators) {
  const struct {
    const char* text;
    const char* separator;
    TStringArray expected;
  } kCases[] = {
      {"", "|", {""}},
      {"|", "|", {"", ""}},
      {"a|b|c", "|", {"a", "b", "c"}},
      {"a|", "|", {"a", ""}},
      {"abc", "|", {"abc"}},
      {"a||b", "|", {"a", "", "b"}},
      {"a<>b<>", "<>", {"a", "b", ""}},
      {"a<b", "<>", {"a<b"}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(SplitString(c.text, c.separator), c.expected) << c.text;
}

TEST(StrToIntTest, AcceptsTheStandardSyntax) {
  const struct {
    const char* text;
    std::int32_t value;
  } kCases[] = {
      {"0", 0},
      {"7", 7},
      {"   42", 42},
      {"+3", 3},
      {"-5", -5},
      {"  -0012", -12},
      {"$1F", 31},
      {"$ff", 255},
      {"0x10", 16},
      {"0X1a", 26},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

TEST(StrToIntTest, RejectsEverythingElseWithTheTextInTheMessage) {
  const char* const kBad[] = {
      "",    " ",    "-",   "+",   "$",          "0x",          "2\r\n",     "2\n",
      "2 ",  "\t2",  "1.5", "1e3", "abc",        "12a",         "$G",        "--1",
      "+-1", "0x-1", "- 1", "１",  "2147483648", "-2147483649", "$80000000", "99999999999999999999",
  };
  for (const char* text : kBad) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace djkivo::app
