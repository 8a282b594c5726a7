// The search keyword on its way from the command line to the query: UTF-8 to GBK, then the
// query encoding. Both conversions must give back what they were given, and the encoded
// keyword must hold only bytes a query may carry unescaped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/gbk_text.h"
#include "base/query_value.h"

namespace {

void Require(bool condition) {
  if (!condition)
    std::abort();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;  // lower-case digits are never written
}

// Undoes the query encoding; nothing when `encoded` holds a byte the encoder never writes.
std::optional<std::string> DecodeKeyword(std::string_view encoded) {
  static constexpr std::string_view kCopied = "*@._-$!'()";
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (djkivo::IsAsciiAlnum(static_cast<unsigned char>(c)) ||
        kCopied.find(c) != std::string_view::npos) {
      decoded.push_back(c);
    } else if (c == '+') {
      decoded.push_back(' ');
    } else if (c == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
               HexValue(encoded[i + 2]) >= 0) {
      decoded.push_back(
          static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2])));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return decoded;
}

void CheckEncoding(std::string_view keyword) {
  const std::string encoded = djkivo::EncodeQueryValue(keyword);
  Require(encoded.size() >= keyword.size() && encoded.size() <= keyword.size() * 3);
  Require(DecodeKeyword(encoded) == std::string(keyword));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace djkivo;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckEncoding(bytes);

  // As a command-line argument: UTF-8 that must come back unchanged through GBK.
  if (const std::optional<std::string> gbk = Utf8ToGbk(bytes)) {
    Require(GbkToUtf8(*gbk) == std::string(bytes));
    CheckEncoding(*gbk);
  }
  // As page bytes: GBK that must come back unchanged through UTF-8.
  if (const std::optional<std::string> utf8 = GbkToUtf8(bytes))
    Require(Utf8ToGbk(*utf8) == std::string(bytes));
  return 0;
}
