// ASCII byte rules for text that is otherwise GBK bytes: letter case, letter and digit tests,
// and trimming. Only the 7-bit letters A-Z and a-z have a case; every byte 0x80-0xFF is a GBK
// lead or trail byte and is never changed or counted as a letter. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace djkivo {

constexpr bool IsAsciiUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiLetter(unsigned char c) { return IsAsciiUpper(c) || IsAsciiLower(c); }
constexpr bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(unsigned char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }

/// `c` with an upper-case ASCII letter made lower-case; every other byte unchanged.
constexpr unsigned char AsciiLower(unsigned char c) {
  return IsAsciiUpper(c) ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
constexpr char AsciiLower(char c) {
  return static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
}

/// `c` with a lower-case ASCII letter made upper-case; every other byte unchanged.
constexpr unsigned char AsciiUpper(unsigned char c) {
  return IsAsciiLower(c) ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}
constexpr char AsciiUpper(char c) {
  return static_cast<char>(AsciiUpper(static_cast<unsigned char>(c)));
}

/// `text` with every ASCII letter lower-case (upper-case).
std::string AsciiLowered(std::string_view text);
std::string AsciiUppered(std::string_view text);

/// True when `a` and `b` are equal but for the case of ASCII letters.
bool IEquals(std::string_view a, std::string_view b);

/// `text` without its leading and trailing bytes of value 32 (space) or less: spaces, tabs,
/// line breaks and the other control bytes. Bytes inside are kept.
std::string_view Trimmed(std::string_view text);

}  // namespace djkivo
