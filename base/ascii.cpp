#include "base/ascii.h"

namespace djkivo {

std::string AsciiLowered(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = AsciiLower(c);
  return result;
}

std::string AsciiUppered(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = AsciiUpper(c);
  return result;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && is_blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace djkivo
