// The site's highlight of a song name in a category list, `<FONT COLOR=#FF0000>name</FONT>`,
// taken apart for display: the text without the FONT tags, and the colour they ask for. Display
// only: the stored name, the play list file and every other text keep the bytes as matched.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace djkivo::app {

/// A song name as the list draws it.
struct HighlightedName {
  std::string text;    // GBK: the name with every <FONT ...> and </FONT> tag removed
  std::string colour;  // the first FONT tag's COLOR value ("#FF0000", "red"); empty for none

  bool operator==(const HighlightedName&) const = default;
};

/// `name` (GBK bytes) with its FONT tags taken out. Tag and attribute names match in any letter
/// case; the value may be bare or quoted. Any other markup is left in the text, and a name
/// without FONT tags comes back unchanged.
HighlightedName SplitFontHighlight(std::string_view name);

}  // namespace djkivo::app
