// The site's FONT highlight taken out of a song name for display.
#include "app/core/font_highlight.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(FontHighlightTest, TakesTheTagsOutAndKeepsTheirColour) {
  const struct {
    const char* name;
    HighlightedName shown;
  } kCases[] = {
      {"plain name", {"plain name", ""}},
      {"<FONT COLOR=#FF0000>red</FONT>", {"red", "#FF0000"}},
      {"<font color=\"#00ff00\">green</font> tail", {"green tail", "#00ff00"}},
      {"<Font  Color = 'blue' size=3>b</fOnT>", {"b", "blue"}},
      {"<FONT SIZE=2>no colour</FONT>", {"no colour", ""}},
      {"<FONT COLOR=red>a</FONT><FONT COLOR=blue>b</FONT>", {"ab", "red"}},
      {"<b>bold</b> <FONT COLOR=#123>x</FONT>", {"<b>bold</b> x", "#123"}},
      {"<FONTS COLOR=red>x</FONTS>", {"<FONTS COLOR=red>x</FONTS>", ""}},
      {"<FONT BGCOLOR=red>x</FONT>", {"x", ""}},
      {"open <FONT COLOR=red", {"open <FONT COLOR=red", ""}},
      {"a < b > c", {"a < b > c", ""}},
      // GBK bytes between the tags are copied untouched (0xB9 0xB7 is "狗").
      {"<FONT COLOR=#FF0000>\xB9\xB7</FONT>", {"\xB9\xB7", "#FF0000"}},
      {"", {"", ""}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(SplitFontHighlight(c.name), c.shown) << c.name;
}

}  // namespace
}  // namespace djkivo::app
