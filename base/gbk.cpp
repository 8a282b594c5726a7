#include "base/gbk.h"

namespace djkivo {

std::size_t GbkPrefixLength(std::string_view text, std::size_t max_bytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    std::size_t width =
        IsGbkLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2 : 1;
    if (end + width > max_bytes)
      break;
    end += width;
  }
  return end;
}

}  // namespace djkivo
