#include "demo/gbk.h"

#include <iconv.h>

#include <stdexcept>

namespace djkivo::demo {

namespace {

// One converter per thread, opened on first use: pages convert dozens of texts each, and an
// iconv descriptor must not be shared between threads.
struct Converter {
  iconv_t handle = iconv_open("GBK", "UTF-8");
  ~Converter() {
    if (handle != reinterpret_cast<iconv_t>(-1))
      iconv_close(handle);
  }
};

}  // namespace

std::string Gbk(std::string_view utf8) {
  thread_local Converter converter_of_thread;
  iconv_t converter = converter_of_thread.handle;
  if (converter == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
  iconv(converter, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out(utf8.size() + 4, '\0');                // GBK never needs more bytes than UTF-8
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* next = out.data();
  std::size_t out_left = out.size();
  std::size_t result = iconv(converter, &in, &in_left, &next, &out_left);
  if (result == static_cast<std::size_t>(-1))
    throw std::runtime_error("Text has no GBK form: " + std::string(utf8));
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace djkivo::demo
