#include "base/gbk_text.h"

#include <iconv.h>

#include <stdexcept>

namespace djkivo {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One iconv descriptor per direction and thread, opened on first use: a page converts dozens
// of texts, and a descriptor must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(::iconv_open(to, from)) {}
  ~Converter() {
    if (handle_ != kNoConverter)
      ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  std::optional<std::string> Convert(std::string_view text) {
    if (handle_ == kNoConverter)
      return std::nullopt;
    ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    // Either encoding takes at most four bytes per character, so a quadruple-sized buffer
    // holds any result in one call.
    std::string buffer(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char* out = buffer.data();
    std::size_t out_left = buffer.size();
    constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
    const bool ok = ::iconv(handle_, &in, &in_left, &out, &out_left) != kFailed &&
                    ::iconv(handle_, nullptr, nullptr, &out, &out_left) != kFailed;
    if (!ok || in_left != 0)
      return std::nullopt;
    buffer.resize(buffer.size() - out_left);
    return buffer;
  }

 private:
  const iconv_t handle_;
};

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  thread_local Converter converter("GB18030", "UTF-8");
  return converter.Convert(utf8);
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  thread_local Converter converter("UTF-8", "GB18030");
  return converter.Convert(gbk);
}

std::string Gbk(std::string_view utf8) {
  std::optional<std::string> gbk = Utf8ToGbk(utf8);
  if (!gbk)
    throw std::invalid_argument("Text is not UTF-8: " + std::string(utf8));
  return *std::move(gbk);
}

}  // namespace djkivo
