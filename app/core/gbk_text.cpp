#include "app/core/gbk_text.h"

#include <iconv.h>

namespace djkivo::app {

namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
  const iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  // Either encoding takes at most four bytes per character, so a quadruple-sized buffer
  // holds any result in one call.
  std::string buffer(text.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out = buffer.data();
  std::size_t out_left = buffer.size();
  const bool ok = ::iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) &&
                  ::iconv(cd, nullptr, nullptr, &out, &out_left) != static_cast<std::size_t>(-1);
  ::iconv_close(cd);
  if (!ok || in_left != 0)
    return std::nullopt;
  buffer.resize(buffer.size() - out_left);
  return buffer;
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  return Convert("GB18030", "UTF-8", utf8);
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  return Convert("UTF-8", "GB18030", gbk);
}

}  // namespace djkivo::app
