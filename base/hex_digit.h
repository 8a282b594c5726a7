// The value of one hexadecimal digit, for every parser of hex text: chunk sizes, pattern
// escapes, "$"/"0x" numbers and percent-encoded query values.
#pragma once

namespace djkivo {

/// 0 to 15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for any other byte.
constexpr int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

}  // namespace djkivo
