#include "demo/gbk.h"

#include <iconv.h>

#include <stdexcept>

namespace djkivo::demo {

std::string Gbk(std::string_view utf8) {
  iconv_t converter = iconv_open("GBK", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
  std::string out(utf8.size() + 4, '\0');  // GBK never needs more bytes than UTF-8
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* next = out.data();
  std::size_t out_left = out.size();
  std::size_t result = iconv(converter, &in, &in_left, &next, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1))
    throw std::runtime_error("Text has no GBK form: " + std::string(utf8));
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace djkivo::demo
