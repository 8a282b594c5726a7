// Small text helpers shared by the phases of the HTTP client: ASCII case folding, trimming,
// and the 7-bit conversion of the lines that go on the wire.
#pragma once

#include <string>
#include <string_view>

namespace djkivo::net {

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Equal ignoring ASCII letter case.
inline bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

inline std::string AsciiLowered(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = AsciiLower(c);
  return result;
}

/// Without leading and trailing bytes of value 32 or less.
inline std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
    text.remove_suffix(1);
  return text;
}

/// Status, header and request lines are 7-bit text: a byte outside ASCII becomes '?', in both
/// directions. Bodies never pass through here.
inline std::string ToAsciiLine(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (static_cast<unsigned char>(c) >= 0x80)
      c = '?';
  return result;
}

}  // namespace djkivo::net
