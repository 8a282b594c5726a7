#include "app/core/scrapers.h"

#include <gtest/gtest.h>

#include "base/ascii.h"

namespace djkivo::app {
namespace {

using Songs = std::vector<SongEntry>;

// One category row as the site writes it; `name` and `uploader` go in as given.
std::string CategoryRow(const std::string& id, const std::string& name,
                        const std::string& uploader) {
  return "<ul><li class=\"wq_2\"><input type=\"checkbox\"  class=\"checkbox\" name=\"check\" "
         "value=" +
         id + " /> <a href=/dance/play/" + id + ".html onClick='play(" + id + ")' target=_blank>" +
         name +
         "</a></li>\r\n<li class=\"wq_3\">2026-01-01</li>\r\n"
         "<li class=\"wq_8\"><a href=\"/user/" +
         id + ".html\" target=_blank>" + uploader + "</a></li><li class=\"wq_9\">12</li></ul>\r\n";
}

std::string CategoryPage(const std::string& rows) {
  return "<html><head><title>x</title></head><body><div class=\"nav\">menu</div>\r\n"
         "<div class='wq_4v'>\r\n" +
         rows + "</div><div class=\"foot\">f</div></body></html>";
}

std::string SearchRow(const std::string& id, const std::string& name, const std::string& uploader) {
  return "<ul><li class=\"ser_1\"><input type=\"checkbox\" name=\"check\" value=\"" + id +
         "\" /></li>\r\n<li class=\"ser_8\"><a href=\"/dance/play/" + id +
         ".html\" target=\"_blank\">" + name + "</a></li>\r\n<li class=\"ser_6\"><a href=\"/u/" +
         id + ".html\" target=_blank>" + uploader + "</a></li><li>5</li></ul>\r\n";
}

std::string SearchPage(const std::string& rows) {
  return "<html><body><div class=\"ser_2\">found</div>\n<div class=\"ser_3\">\n" + rows +
         "</div></body></html>";
}

TEST(ScrapeCategoryPageTest, RowsAsMatched) {
  const struct {
    const char* what;
    std::string page;
    Songs expected;
  } kCases[] = {
      {"two rows",
       CategoryPage(CategoryRow("11", "\xB9\xB7\xCE\xB2\xB2\xDD", "dj a") +
                    CategoryRow("22", "b", "dj b")),
       {{"\xB9\xB7\xCE\xB2\xB2\xDD", "dj a", "11"}, {"b", "dj b", "22"}}},
      {"apostrophes become double quotes",
       CategoryPage(CategoryRow("1", "it's", "o'neil")),
       {{"it\"s", "o\"neil", "1"}}},
      {"tags and spaces are kept",
       CategoryPage(CategoryRow("1", " <b>x</b> ", " u ")),
       {{" <b>x</b> ", " u ", "1"}}},
      {"upper-case markup",
       [] {
         std::string page = CategoryPage(CategoryRow("7", "n", "u"));
         for (const char* from : {"<ul>", "<li class=\"wq_2\">", "<div class='wq_4v'>", "</div>"}) {
           page.replace(page.find(from), std::string(from).size(), AsciiUppered(from));
         }
         return page;
       }(),
       {{"n", "u", "7"}}},
      {"empty block", CategoryPage(""), {}},
      {"no block", "<html><body>" + CategoryRow("1", "n", "u") + "</body></html>", {}},
      {"rows after the first closing div are outside the block",
       CategoryPage(CategoryRow("1", "a", "u")) + "<div class=\"wq_4v\">" +
           CategoryRow("2", "b", "u") + "</div>",
       {{"a", "u", "1"}}},
      {"the page ends at a NUL byte",
       CategoryPage(CategoryRow("1", "a", "u") + std::string(1, '\0') + CategoryRow("2", "b", "u")),
       {}},
      {"a malformed row is skipped",
       CategoryPage(CategoryRow("x1", "bad id", "u") + CategoryRow("3", "good", "u")),
       {{"good", "u", "3"}}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ScrapeCategoryPage(c.page), c.expected) << c.what;
}

TEST(ScrapeSearchPageTest, NamesLoseTagsAndBothFieldsAreTrimmed) {
  const struct {
    const char* what;
    std::string page;
    Songs expected;
  } kCases[] = {
      {"bold keyword then more text",
       SearchPage(SearchRow("5", " <b>\xB9\xB7\xCE\xB2\xB2\xDD</b> remix\t", "\r\n up \x01")),
       {{"\xB9\xB7\xCE\xB2\xB2\xDD remix", "up", "5"}}},
      {"tags across line breaks and upper-case tags",
       SearchPage(SearchRow("6", "a<B\r\n>b</B\n>c<font color='red'>d</font>", "u")),
       {{"abcd", "u", "6"}}},
      {"apostrophes", SearchPage(SearchRow("8", "it's", "o'neil")), {{"it\"s", "o\"neil", "8"}}},
      {"two rows, page order",
       SearchPage(SearchRow("1", "x", "u") + SearchRow("2", "y", "v")),
       {{"x", "u", "1"}, {"y", "v", "2"}}},
      {"empty block", SearchPage(""), {}},
      {"no block", SearchRow("1", "x", "u"), {}},
      {"a category page is no search page", CategoryPage(CategoryRow("1", "n", "u")), {}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ScrapeSearchPage(c.page), c.expected) << c.what;
}

TEST(ResolveStreamAddressTest, JoinsTheTwoScriptValues) {
  const struct {
    const char* what;
    std::string page;
    std::string expected;
  } kCases[] = {
      {"plain",
       "<p>x</p><SCRIPT LANGUAGE=JavaScript>var s_bstr=\"http://media.host/\";var n=1;"
       "var righturl=\"a/b.wma\";</SCRIPT><p>y</p>",
       "http://media.host/a/b.wma"},
      {"apostrophes, lower case, across lines",
       "<script language=javascript>var s_bstr='mms://h/';\r\nvar x='1';\r\n"
       "righturl='s/1.wma';</script>",
       "mms://h/s/1.wma"},
      {"righturl must be the last statement",
       "<SCRIPT LANGUAGE=JavaScript>var s_bstr=\"a\";righturl=\"b\";x=1;</SCRIPT>", ""},
      {"no script", "<html>righturl=\"b\";</html>", ""},
      {"empty page", "", ""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ResolveStreamAddress(c.page), c.expected) << c.what;
}

}  // namespace
}  // namespace djkivo::app
