// Text helpers shared by the phases of the HTTP client: the 7-bit conversion of the lines that
// go on the wire, and (from base/ascii.h) ASCII case folding and trimming.
#pragma once

#include <string>
#include <string_view>

#include "base/ascii.h"

namespace djkivo::net {

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
