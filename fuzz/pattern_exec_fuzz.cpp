// Compiles a pattern and runs it over an input, both from the fuzzer's bytes: byte 0 picks
// the flags, byte 1 the pattern's length, the rest after the pattern is the input. Walks
// every match with ExecNext and replaces them all, checking the group bounds on the way.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pattern/matcher.h"

namespace {

// Matches stop advancing only by a fault; an input of n bytes has at most n + 1 of them.
void Check(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const std::uint8_t flags = data[0];
  const std::size_t pattern_size = std::min<std::size_t>(data[1], size - 2);
  const std::string_view pattern(reinterpret_cast<const char*>(data + 2), pattern_size);
  const std::string_view input(reinterpret_cast<const char*>(data + 2 + pattern_size),
                               size - 2 - pattern_size);
  djkivo::pattern::TPatternMatcher matcher;
  matcher.SetModifierI(flags & 1);
  matcher.SetModifierS(!(flags & 2));
  matcher.SetModifierG(!(flags & 4));
  matcher.SetModifierM(flags & 8);
  matcher.SetModifierX(flags & 16);
  matcher.SetExpression(pattern);
  try {
    const std::string effective = std::string(input.substr(0, input.find('\0')));
    int matches = 0;
    int last_end = 0;
    for (bool found = matcher.Exec(input); found; found = matcher.ExecNext()) {
      Check(++matches <= static_cast<int>(effective.size()) + 1);
      const int pos = matcher.GroupPos(0);
      Check(pos >= last_end && pos + matcher.GroupLen(0) <= static_cast<int>(effective.size()) + 1);
      for (int n = 1; n < djkivo::pattern::TPatternMatcher::kGroupCount; ++n) {
        if (matcher.GroupPos(n) == -1)
          continue;
        Check(matcher.GroupPos(n) >= 1 &&
              matcher.GroupPos(n) + matcher.GroupLen(n) <= static_cast<int>(effective.size()) + 1);
        Check(matcher.GroupText(n) ==
              effective.substr(matcher.GroupPos(n) - 1, matcher.GroupLen(n)));
      }
      last_end = pos + matcher.GroupLen(0);
      matcher.ExpandTemplate("[$1${2}$&\\$]");
    }
    matcher.ReplaceAll(input, "<$1>", true);
  } catch (const djkivo::pattern::EPatternError&) {
  }
  return 0;
}
