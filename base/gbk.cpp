#include "base/gbk.h"

namespace djkivo {

namespace {

constexpr bool IsGbkTrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}
constexpr bool IsGb18030Digit(unsigned char byte) { return byte >= 0x30 && byte <= 0x39; }

}  // namespace

std::size_t GbkCharLength(std::string_view text, std::size_t pos) {
  const auto at = [&](std::size_t k) -> unsigned char {
    return pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
  };
  if (!IsGbkLeadByte(at(0)))
    return 1;
  if (IsGbkTrailByte(at(1)))
    return 2;
  const bool four = IsGb18030Digit(at(1)) && IsGbkLeadByte(at(2)) && IsGb18030Digit(at(3));
  return four ? 4 : 1;
}

std::size_t GbkPrefixLength(std::string_view text, std::size_t max_bytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t width = GbkCharLength(text, end);
    if (end + width > max_bytes)
      break;
    end += width;
  }
  return end;
}

}  // namespace djkivo
