// Compiles arbitrary pattern bytes: every outcome is a program or an EPatternError, never a
// crash, a hang or undefined behaviour. The first byte picks the modifier flags.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pattern/matcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  djkivo::pattern::TPatternMatcher matcher;
  const std::uint8_t flags = data[0];
  matcher.SetModifierI(flags & 1);
  matcher.SetModifierR(flags & 2);
  matcher.SetModifierS(flags & 4);
  matcher.SetModifierG(flags & 8);
  matcher.SetModifierM(flags & 16);
  matcher.SetModifierX(flags & 32);
  matcher.SetExpression(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    matcher.Compile();
    matcher.Exec("<ul><li class=\"wq_2\">ab 12</li></ul>\r\nAa_\xC1\xE1");
  } catch (const djkivo::pattern::EPatternError&) {
  }
  return 0;
}
