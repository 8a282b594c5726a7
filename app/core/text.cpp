#include "app/core/text.h"

#include <limits>

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

}  // namespace djkivo::app
