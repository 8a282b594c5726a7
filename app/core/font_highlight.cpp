// Covered by tests/app/core/font_highlight_test.cpp.
#include "app/core/font_highlight.h"

#include "base/ascii.h"

namespace djkivo::app {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The tag's name: what follows "<" (or "</") up to a space, "/" or ">".
std::string_view TagName(std::string_view tag) {
  std::size_t end = 0;
  while (end < tag.size() && !IsSpace(tag[end]) && tag[end] != '/' && tag[end] != '>')
    ++end;
  return tag.substr(0, end);
}

// The value of the COLOR attribute inside a tag's attributes, or empty.
std::string ColourAttribute(std::string_view attributes) {
  const std::string lowered = AsciiLowered(attributes);
  std::size_t at = 0;
  while ((at = lowered.find("color", at)) != std::string::npos) {
    const bool starts_word = at == 0 || IsSpace(lowered[at - 1]);
    std::size_t pos = at + 5;
    at = pos;
    if (!starts_word)
      continue;
    while (pos < attributes.size() && IsSpace(attributes[pos]))
      ++pos;
    if (pos >= attributes.size() || attributes[pos] != '=')
      continue;
    ++pos;
    while (pos < attributes.size() && IsSpace(attributes[pos]))
      ++pos;
    if (pos < attributes.size() && (attributes[pos] == '"' || attributes[pos] == '\'')) {
      const char quote = attributes[pos++];
      const std::size_t close = attributes.find(quote, pos);
      return std::string(attributes.substr(
          pos, close == std::string_view::npos ? std::string_view::npos : close - pos));
    }
    std::size_t end = pos;
    while (end < attributes.size() && !IsSpace(attributes[end]) && attributes[end] != '/')
      ++end;
    return std::string(attributes.substr(pos, end - pos));
  }
  return {};
}

}  // namespace

HighlightedName SplitFontHighlight(std::string_view name) {
  // "<" and ">" are never the second byte of a GBK character, so a scan for them cannot split
  // one; the bytes between two tags are copied untouched.
  HighlightedName shown;
  bool coloured = false;
  std::size_t pos = 0;
  while (pos < name.size()) {
    const std::size_t open = name.find('<', pos);
    if (open == std::string_view::npos)
      break;
    const std::size_t close = name.find('>', open);
    if (close == std::string_view::npos)
      break;
    std::string_view tag = name.substr(open + 1, close - open - 1);
    const bool closing = !tag.empty() && tag.front() == '/';
    if (closing)
      tag.remove_prefix(1);
    const std::string_view tag_name = TagName(tag);
    if (!IEquals(tag_name, "font")) {
      shown.text.append(name.substr(pos, close + 1 - pos));
      pos = close + 1;
      continue;
    }
    shown.text.append(name.substr(pos, open - pos));
    if (!closing && !coloured) {
      shown.colour = ColourAttribute(tag.substr(tag_name.size()));
      coloured = !shown.colour.empty();
    }
    pos = close + 1;
  }
  shown.text.append(name.substr(pos));
  return shown;
}

}  // namespace djkivo::app
