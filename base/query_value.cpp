#include "base/query_value.h"

#include "base/ascii.h"
#include "base/hex_digit.h"

namespace djkivo {

std::string EncodeQueryValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kCopied = "*@._-$!'()";
  std::string encoded;
  encoded.reserve(value.size() * 3);
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAsciiAlnum(byte) || kCopied.find(c) != std::string_view::npos) {
      encoded.push_back(c);
    } else if (c == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0x0F]);
    }
  }
  return encoded;
}

std::string DecodeQueryValue(std::string_view value) {
  std::string decoded;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '+') {
      decoded += ' ';
    } else if (value[i] == '%' && i + 2 < value.size() && HexDigitValue(value[i + 1]) >= 0 &&
               HexDigitValue(value[i + 2]) >= 0) {
      decoded += static_cast<char>(HexDigitValue(value[i + 1]) * 16 + HexDigitValue(value[i + 2]));
      i += 2;
    } else {
      decoded += value[i];
    }
  }
  return decoded;
}

}  // namespace djkivo
