#include "app/core/text.h"

#include <limits>

#include "base/gbk.h"
#include "base/hex_digit.h"

namespace djkivo::app {

TStringArray SplitString(std::string_view text, std::string_view separator) {
  TStringArray result;
  if (separator.empty())
    return {std::string(text)};
  std::size_t start = 0;
  for (std::size_t found = text.find(separator); found != std::string_view::npos;
       found = text.find(separator, start)) {
    result.emplace_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  result.emplace_back(text.substr(start));
  return result;
}

namespace {

int DigitValue(char c, int base) {
  const int value = HexDigitValue(c);
  return value < base ? value : -1;
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
  const auto invalid = [text] {
    return EConvertError("'" + std::string(text) + "' is not a valid integer value");
  };
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size())
    throw invalid();
  // The magnitude may reach 2^31 for the most negative value; anything beyond is out of range.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0)
      throw invalid();
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit)
      throw invalid();
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max())
    throw invalid();
  return static_cast<std::int32_t>(value);
}

std::string_view TrimControl(std::string_view text) {
  const auto is_control = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && is_control(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_control(text.back()))
    text.remove_suffix(1);
  return text;
}

std::size_t GbkCharLength(std::string_view text, std::size_t pos) {
  const auto at = [&](std::size_t k) -> unsigned char {
    return pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
  };
  if (!IsGbkLeadByte(at(0)))
    return 1;
  const unsigned char second = at(1);
  if (second >= 0x40 && second <= 0xFE && second != 0x7F)
    return 2;
  const bool four =
      second >= 0x30 && second <= 0x39 && IsGbkLeadByte(at(2)) && at(3) >= 0x30 && at(3) <= 0x39;
  return four ? 4 : 1;
}

}  // namespace djkivo::app
