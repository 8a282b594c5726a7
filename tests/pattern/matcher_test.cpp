#include "pattern/matcher.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace djkivo::pattern {
namespace {

// "g0|g1|..." for groups 0..GroupCount, "~" for an unset group; "NOMATCH" when Exec fails.
std::string Describe(TPatternMatcher& m) {
  std::string out;
  for (int n = 0; n <= m.GroupCount(); ++n) {
    if (n)
      out += '|';
    out += m.GroupPos(n) == -1 ? std::string("~") : m.GroupText(n);
  }
  return out;
}

std::string FirstMatch(const std::string& pattern, const std::string& input) {
  TPatternMatcher m;
  m.SetExpression(pattern);
  return m.Exec(input) ? Describe(m) : "NOMATCH";
}

struct MatchCase {
  const char* pattern;
  std::string input;
  const char* expected;
};

class MatchTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchTable, FirstMatchAndGroups) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(FirstMatch(c.pattern, c.input), c.expected) << "pattern " << c.pattern;
}

const MatchCase kLiterals[] = {
    {"ab+", "abbb", "abbb"},
    {"ab+", "ababb", "ab"},  // the quantifier takes only the last byte of the run
    {"ab{2}", "abab abb", "abb"},
    {"ab?c", "ac", "ac"},
    {"]}=/<>;:_ '\"", "x]}=/<>;:_ '\"", "]}=/<>;:_ '\""},
    {"abc", "ABC", "NOMATCH"},
    {"(?i)<ul><li class=", "<UL><LI CLASS=", "<UL><LI CLASS="},
    {"(?i)a\\xC1", "A\xC1", "A\xC1"},
    {"(?i)\\xC1", "\xE1", "NOMATCH"},  // bytes above 0x7F have no case partner
    {"a{b", "a{b", "a{b"},             // a '{' that begins no count is a literal
    {"a{,2}", "a{,2}", "a{,2}"},
    {"a{2x}", "a{2x}", "a{2x}"},
    {"a{2", "a{2", "a{2"},
    {"a}", "a}", "a}"},
};
INSTANTIATE_TEST_SUITE_P(Literals, MatchTable, ::testing::ValuesIn(kLiterals));

const MatchCase kDotAndEscapes[] = {
    {"a.c", "a\nc", "a\nc"},
    {"(?-s)a.c", "a\nc a\rc axc", "axc"},
    {"\\d+", "ab0129x", "0129"},
    {"\\D+", "12ab3", "ab"},
    {"\\w+", "  a_Z9-", "a_Z9"},
    {"\\W+", "ab -+c", " -+"},
    {"\\s+", "a \t\r\n\fb", " \t\r\n\f"},
    {"\\S+", " \x0b\xA1 ", "\x0b\xA1"},  // vertical tab is not in the space set
    {"\\bab", "cab ab", "ab"},
    {"\\Bab", "ab cab", "ab"},
    {"b\\b", "b", "b"},
    {"\\Aa", "ba", "NOMATCH"},
    {"a\\Z", "a\na", "a"},
    {"\\t\\n\\r\\f\\a\\e", "\t\n\r\f\a\x1b", "\t\n\r\f\a\x1b"},
    {"\\x41\\x{42}\\x{9}", "AB\t", "AB\t"},
    {"\\.\\\\\\(\\q", "x.\\(q", ".\\(q"},
    {"(a)\\1", "aA aa", "aa|a"},
    {"(?i)(a)\\1", "aA", "aA|a"},
    {"(a)|\\1b", "b", "NOMATCH"},  // a reference to an unset group fails
    {"(a*)b\\1+c", "aabaaaac", "aabaaaac|aa"},
    {"(a*)b\\1*c", "bc", "bc|"},
};
INSTANTIATE_TEST_SUITE_P(DotAndEscapes, MatchTable, ::testing::ValuesIn(kDotAndEscapes));

const MatchCase kClasses[] = {
    {"[]a]+", "x]a]", "]a]"},
    {"[^]a]", "]ab", "b"},
    {"[a-]+", "xa-a", "a-a"},
    {"[-a]+", "x-a", "-a"},
    {"[a-c-e]+", "xa-eb", "a-eb"},
    {"[\\d-z]+", "x1-z", "1-z"},
    {"[\\s\\w]+", "-a b_", "a b_"},
    {"[\\W]", "-W", "W"},  // inside a class only \d, \s and \w are sets
    {"[\\x41-\\x43]+", "ABCD", "ABC"},
    {"(?i)[a-c]+", "xABC", "ABC"},
    {"(?i)[^a]", "Ab", "b"},
    {"[^a]", "a", "NOMATCH"},
    {"[\\xE0-\\xFF]", "\xB8", "\xB8"},
    {"(?-r)[\\xE0-\\xFF]", "\xB8", "NOMATCH"},
    {"[\\xC0-\\xDF]", "\xA8", "\xA8"},
    {"[\\xE0-\\xDF]+", "\xC0\xFF\xA8\xB8\xBF", "\xC0\xFF\xA8\xB8"},
};
INSTANTIATE_TEST_SUITE_P(Classes, MatchTable, ::testing::ValuesIn(kClasses));

const MatchCase kAnchors[] = {
    {"^b", "ab", "NOMATCH"},
    {"(?m)^b", "a\nb", "b"},
    {"a$", "a\n", "NOMATCH"},  // no match before a final line break
    {"(?m)a$", "a\r\n", "a"},
    {"(?m)\\r^", "\r\n", "NOMATCH"},  // never between the two bytes of CR LF
    {"(?m)\\r^", "\r\r", "\r"},
    {"(?m)$\\n", "\r\n", "NOMATCH"},
    {"(?m)$\\n", "a\n", "\n"},
    {"(?m)^x$", "a\rx\rb", "x"},
};
INSTANTIATE_TEST_SUITE_P(Anchors, MatchTable, ::testing::ValuesIn(kAnchors));

const MatchCase kGroupsAndAlternation[] = {
    {"a|b|", "c", ""},
    {"(a|)b", "b", "b|"},
    {"(a)|(b)", "b", "b|~|b"},
    {"(a|ab)(c|bcd)(d*)", "abcd", "abcd|a|bcd|"},
    {"((a)|b)+", "ab", "ab|b|a"},  // a group keeps its last pass on the successful path
    {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)", "abcdefghijklmn",
     "abcdefghijklmn|a|b|c|d|e|f|g|h|i|j|k|l|m|n"},
    {"()", "x", "|"},
};
INSTANTIATE_TEST_SUITE_P(Groups, MatchTable, ::testing::ValuesIn(kGroupsAndAlternation));

const MatchCase kQuantifiers[] = {
    {"a{2,3}", "aaaa", "aaa"},
    {"a{2,3}?", "aaaa", "aa"},
    {"a{2,}", "aaaaa", "aaaaa"},
    {"a{0}b", "ab", "b"},
    {"a*?b", "aab", "aab"},
    {"a??b", "ab", "ab"},
    {"<.+?>", "<><b>", "<><b>"},  // ".+?" takes at least one byte
    {"(?-g)a+", "aaa", "a"},
    {"(?-g)a+?", "aaa", "a"},
    {"(?-g)(a)*b", "aab", "aab|a"},
    {"(ab){2}", "ababab", "abab|ab"},
    {"(ab){2,}?", "ababab", "abab|ab"},
    {"(ab)*?c", "ababc", "ababc|ab"},
    {"(ab)+?", "abab", "ab|ab"},
    {"(a|b)??b", "ab", "ab|a"},
    {"(a|ab)*c", "abac", "abac|a"},
    {"(?i)<div>(.+?)</div>", "<div>a\r\nb</div>c</div>", "<div>a\r\nb</div>|a\r\nb"},
    {"x(a|b){1,3}?y", "xabby", "xabby|b"},
    {"x.{2,}?y", "xyxaybyy", "xyxay"},
    {"(?i)<B>(.*?)</b>", "<b></B><B>x</b>", "<b></B>|"},
    {"(?i)<B>(.+?)</b>", "<b></B><B>x</b>", "<b></B><B>x</b>|</B><B>x"},
    {"a.+?b", "ab", "NOMATCH"},
    {"(a)\\1{2,}", "aaaa", "aaaa|a"},
};
INSTANTIATE_TEST_SUITE_P(Quantifiers, MatchTable, ::testing::ValuesIn(kQuantifiers));

const MatchCase kInlineAndExtended[] = {
    {"a(?i)b", "aB", "aB"},
    {"A(?i)b", "aB", "NOMATCH"},
    {"(a(?i)b)c", "aBC", "NOMATCH"},  // the setting ends with its group
    {"(a(?i)b)c", "aBc", "aBc|aB"},
    {"(x(?i)b|c)", "C", "C|C"},  // ...but holds through its later alternatives
    {"(?i)a(?-i)b", "Ab", "Ab"},
    {"(?I)a", "A", "A"},
    {"(?#any text)a", "a", "a"},
    {"(?x) a b # comment\n c", "abc", "abc"},
    {"(?x)[ ]", " ", " "},
    {"(?x)a +", "aa", "aa"},
};
INSTANTIATE_TEST_SUITE_P(Inline, MatchTable, ::testing::ValuesIn(kInlineAndExtended));

struct BadCase {
  const char* pattern;
  int code;
  int pos;
};

class BadPatternTable : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadPatternTable, RaisesCodeMessageAndPosition) {
  const BadCase& c = GetParam();
  TPatternMatcher m;
  m.SetExpression(c.pattern);
  try {
    m.Exec("input");
    FAIL() << "no error for " << c.pattern;
  } catch (const EPatternError& e) {
    EXPECT_EQ(e.ErrorId(), c.code) << c.pattern;
    EXPECT_EQ(e.ErrorPos(), c.pos) << c.pattern;
    EXPECT_EQ(std::string(e.what()),
              EPatternError::MessageFor(c.code) + " (pos " + std::to_string(c.pos) + ")");
    EXPECT_EQ(m.LastError(), c.code);
  }
  // A compile error leaves the expression stored: the next search raises it again.
  EXPECT_THROW(m.Exec("input"), EPatternError);
}

const BadCase kBadPatterns[] = {
    {"(((((((((((((((a)))))))))))))))", 102, 15},
    {"(a", 103, 2},
    {"a(b(c)", 103, 6},
    {"a)", 104, 2},
    {"(a*)*", 106, 5},
    {"^*", 106, 2},
    {"(a|)+", 106, 5},
    {"\\b{2}", 106, 5},
    {"(\\1)*", 106, 5},
    {"a**", 107, 3},
    {"a*{", 107, 3},
    {"a{2}{3}", 107, 5},
    {"a???", 107, 4},
    {"\\xG0", 108, 3},
    {"\\x{4G}", 108, 5},
    {"[b-a]", 109, 4},
    {"(?-r)[\\xE0-\\xDF]", 109, 15},
    {"[a\\", 110, 3},
    {"\\x", 111, 2},
    {"\\x4", 111, 3},
    {"\\x{}", 111, 4},
    {"\\x{123}", 112, 6},
    {"[abc", 113, 4},
    {"[]", 113, 2},
    {"*a", 115, 1},
    {"a|+b", 115, 3},
    {"({2}a)", 115, 2},
    {"a\\", 116, 2},
    {"a{123456789}", 122, 11},
    {"a{1,123456789}", 122, 13},
    {"a{3,2}", 124, 6},
    {"(?#abc", 125, 6},
    {"(?:a)", 127, 3},
    {"(?=a)", 127, 3},
    {"(?i", 127, 3},
};
INSTANTIATE_TEST_SUITE_P(Errors, BadPatternTable, ::testing::ValuesIn(kBadPatterns));

TEST(PatternErrorTest, SearchErrorsCarryNoPositionAndUnknownCodesSaySo) {
  EXPECT_STREQ(EPatternError(1007, 0).what(), "TPatternMatcher(exec): ExecNext Without Exec[Pos]");
  EXPECT_STREQ(EPatternError(1014, 0).what(), "TPatternMatcher(exec): Loop Stack Exceeded");
  EXPECT_STREQ(EPatternError(4242, 0).what(), "Unknown error");
  EXPECT_STREQ(EPatternError(128, 0).what(),
               "TPatternMatcher(comp): LinePairedSeparator must countain two different chars or "
               "no chars at all (pos 0)");
}

int ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EPatternError& e) {
    return e.ErrorId();
  }
  return 0;
}

TEST(PatternMatcherTest, ExecNextWalksTheMatchesAndThenUnsetsEverything) {
  TPatternMatcher m;
  m.SetExpression("(\\d+)");
  ASSERT_TRUE(m.Exec("ab 123 45"));
  EXPECT_EQ(m.GroupText(1), "123");
  EXPECT_EQ(m.GroupPos(1), 4);
  EXPECT_EQ(m.GroupLen(1), 3);
  ASSERT_TRUE(m.ExecNext());
  EXPECT_EQ(m.GroupText(1), "45");
  EXPECT_FALSE(m.ExecNext());
  for (int n = 0; n < TPatternMatcher::kGroupCount; ++n)
    EXPECT_EQ(m.GroupPos(n), -1);
  EXPECT_EQ(ErrorOf([&] { m.ExecNext(); }), 1007);
}

TEST(PatternMatcherTest, EmptyMatchesAdvanceOneBytePastThemselves) {
  TPatternMatcher m;
  m.SetExpression("x*");
  std::vector<int> positions;
  for (bool found = m.Exec("ab"); found; found = m.ExecNext()) {
    EXPECT_EQ(m.GroupLen(0), 0);
    positions.push_back(m.GroupPos(0));
  }
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(m.Exec(""));
  EXPECT_EQ(m.GroupPos(0), 1);
  EXPECT_EQ(m.GroupLen(0), 0);
}

TEST(PatternMatcherTest, AMatchMayStartWhereThePreviousEnded) {
  TPatternMatcher m;
  m.SetExpression("a|b*");
  std::vector<std::string> found;
  for (bool ok = m.Exec("abba"); ok; ok = m.ExecNext())
    found.push_back(std::to_string(m.GroupPos(0)) + ":" + m.GroupText(0));
  EXPECT_EQ(found, (std::vector<std::string>{"1:a", "2:bb", "4:a", "5:"}));
}

TEST(PatternMatcherTest, GroupsOutsideTheRangeOrWithoutInputAreEmpty) {
  TPatternMatcher m;
  EXPECT_EQ(m.GroupText(0), "");
  m.SetExpression("(a)");
  ASSERT_TRUE(m.Exec("a"));
  for (int n : {-1, 2, 15}) {
    EXPECT_EQ(m.GroupText(n), "");
    EXPECT_EQ(m.GroupPos(n), -1);
    EXPECT_EQ(m.GroupLen(n), -1);
  }
  m.SetInputString("a");
  EXPECT_EQ(m.GroupPos(0), -1);  // writing the input clears the bounds
}

TEST(PatternMatcherTest, InputEndsAtItsFirstNul) {
  TPatternMatcher m;
  m.SetExpression("c");
  EXPECT_FALSE(m.Exec(std::string("ab\0cd", 5)));
  EXPECT_EQ(m.InputString(), "ab");
  m.SetExpression("b$");
  EXPECT_TRUE(m.Exec(std::string("ab\0cd", 5)));
  m.SetExpression(std::string("a\0b", 3));
  EXPECT_EQ(m.Expression(), "a");
}

TEST(PatternMatcherTest, StateErrorsHaveTheirCodes) {
  TPatternMatcher m;
  EXPECT_EQ(ErrorOf([&] { m.InputString(); }), 1008);
  EXPECT_EQ(ErrorOf([&] { m.Exec("a"); }), 1003);
  EXPECT_EQ(ErrorOf([&] { m.Compile(); }), 100);
  TPatternMatcher fresh;
  EXPECT_EQ(ErrorOf([&] { fresh.ExpandTemplate("$1"); }), 1005);
  fresh.SetExpression("a");
  EXPECT_EQ(ErrorOf([&] { fresh.ExecPos(1); }), 1005);
  m.SetExpression("a");
  m.SetInputString("aa");
  EXPECT_EQ(ErrorOf([&] { m.ExecPos(0); }), 1006);
  EXPECT_EQ(m.LastError(), 1006);
  EXPECT_FALSE(m.ExecPos(4));
  EXPECT_TRUE(m.ExecPos(2));
  EXPECT_EQ(m.GroupPos(0), 2);
  EXPECT_EQ(ErrorOf([&] { m.SetLinePairedSeparator("aa"); }), 128);
  EXPECT_EQ(ErrorOf([&] { m.SetLinePairedSeparator("abc"); }), 128);
  EXPECT_EQ(ErrorOf([&] { m.SetLinePairedSeparator("\n\r"); }), 0);
}

TEST(PatternMatcherTest, FlagChangesAndExpressionChangesRecompile) {
  TPatternMatcher m;
  EXPECT_FALSE(m.ModifierI());
  EXPECT_TRUE(m.ModifierR() && m.ModifierS() && m.ModifierG());
  EXPECT_FALSE(m.ModifierM() || m.ModifierX());
  m.SetExpression("abc");
  EXPECT_FALSE(m.Exec("ABC"));
  m.SetModifierI(true);
  EXPECT_TRUE(m.Exec("ABC"));
  m.SetModifierS(false);
  m.SetExpression("a.c");
  EXPECT_FALSE(m.Exec("a\nc"));
  m.SetModifierM(true);
  m.SetExpression("^c");
  EXPECT_TRUE(m.Exec("a\nc"));
  m.SetLinePairedSeparator("");
  m.SetExpression("\\r^\\n");
  EXPECT_TRUE(m.Exec("\r\n"));  // pairing off: a line starts between CR and LF
}

TEST(PatternMatcherTest, LoopStackHoldsTenNestedCountedGroupLoops) {
  std::string ten = "a", eleven;
  for (int k = 0; k < 10; ++k)
    ten = "(" + ten + "){1,2}";
  eleven = "(" + ten + "){1,2}";
  TPatternMatcher m;
  m.SetExpression(ten);
  EXPECT_TRUE(m.Exec("a"));
  m.SetExpression(eleven);
  EXPECT_EQ(ErrorOf([&] { m.Exec("a"); }), 1014);
  EXPECT_FALSE(m.Exec("b"));  // raised only where the match reaches the loop
}

TEST(ReplaceTest, TagStripRemovesEverySpanWithContent) {
  TPatternMatcher m;
  m.SetExpression("(?i)<.+?>");
  EXPECT_EQ(m.ReplaceAll("a<b>x</b>\r\n<i\r\n>y</i>", "", true), "ax\r\ny");
  EXPECT_EQ(m.ReplaceAll("a<>b", "", true), "a<>b");
  EXPECT_EQ(m.ReplaceAll("<>b>", "", true), "");
  EXPECT_EQ(m.InputString(), "<>b>");
  EXPECT_EQ(m.ReplaceAll("plain", "", true), "plain");
}

TEST(ReplaceTest, ExpansionFillsGroupsAndEscapes) {
  TPatternMatcher m;
  m.SetExpression("(\\w+)@(\\w+)");
  EXPECT_EQ(m.ReplaceAll("mail a@b and c@d.", "$2 at ${1}", true), "mail b at a and d at c.");
  EXPECT_EQ(m.ReplaceAll("a@b", "$2 at ${1}", false), "$2 at ${1}");
  ASSERT_TRUE(m.Exec("x@y"));
  EXPECT_EQ(m.ExpandTemplate("[$&|${&}|$0|$1$2|\\$1|$9|$15|${2}|${x}|$|${1|\\]"),
            "[x@y|x@y|x@y|xy|$1|||y|${x}|$|${1|]");
  EXPECT_EQ(m.ExpandTemplate(""), "");
  m.SetExpression("x*");
  EXPECT_EQ(m.ReplaceAll("ab", "-", true), "-a-b-");
}

// A hostile page must not cost exponential time or stack depth. Bounds are generous: the
// point is that these finish at all (the unmemoised engine would run for years).
TEST(HostilePatternTest, NestedAndAlternatingLoopsFinish) {
  const std::string as(20000, 'a');
  for (const char* pattern :
       {"(a|a)*b", "(a+)+b", "(a|aa)+c", "((a+)|b)*x", "(.*?,)+P", "(?-g)(a|a)*b"}) {
    TPatternMatcher m;
    m.SetExpression(pattern);
    EXPECT_FALSE(m.Exec(as)) << pattern;
  }
}

TEST(HostilePatternTest, LongRunsCostNoStack) {
  const std::string big(4 << 20, 'x');
  TPatternMatcher m;
  m.SetExpression("x+?y|x*z|(?-s).+?$");
  ASSERT_TRUE(m.Exec(big));
  EXPECT_EQ(m.GroupLen(0), static_cast<int>(big.size()));
}

TEST(HostilePatternTest, MillionsOfGroupIterationsStopAtTheStackBound) {
  std::string abs;
  for (int k = 0; k < (1 << 20); ++k)
    abs += "ab";
  TPatternMatcher m;
  m.SetExpression("(ab)*");
  EXPECT_EQ(ErrorOf([&] { m.Exec(abs); }), 1017);
  m.SetExpression("(ab)*");
  EXPECT_TRUE(m.Exec(abs.substr(0, 20000)));  // a smaller page is fine
  EXPECT_EQ(m.GroupLen(0), 20000);
}

TEST(HostilePatternTest, UnmemoisedBlowUpStopsAtTheStepBudget) {
  // Back-references switch the memo off; nested counted loops blow up; the budget ends it.
  TPatternMatcher m;
  m.SetExpression("(x)?((a|a){1,40}){1,40}b\\1");
  EXPECT_EQ(ErrorOf([&] { m.Exec(std::string(60, 'a')); }), 1016);
  EXPECT_EQ(m.GroupPos(0), -1);
}

}  // namespace
}  // namespace djkivo::pattern
