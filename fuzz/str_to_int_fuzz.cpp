// The whole-number conversion of the page box, the version file and the command-line tool.
// Every text it accepts must carry exactly the value an independent reading gives, and
// print back to that value; every text it refuses must throw EConvertError with the exact
// message. Numbers built from the input in every accepted spelling must all be accepted.
#include <charconv>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/text.h"

namespace {

void Require(bool condition) {
  if (!condition)
    std::abort();
}

// Spaces, a sign, "$" / "0x" / "0X" or nothing, then digits of the base, all in int32 range.
std::optional<std::int32_t> Expected(std::string_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with('$')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.front() == '+' || text.front() == '-')
    return std::nullopt;
  std::uint64_t magnitude = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (magnitude > (std::uint64_t{1} << 31) || value > INT32_MAX || value < INT32_MIN)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void Check(std::string_view text) {
  const std::optional<std::int32_t> expected = Expected(text);
  try {
    const std::int32_t value = djkivo::app::StrToInt(text);
    Require(expected == value);
    Require(djkivo::app::StrToInt(std::to_string(value)) == value);
  } catch (const djkivo::app::EConvertError& error) {
    Require(!expected);
    // what() is a C string: a NUL in the text ends the message there.
    const std::string message = "'" + std::string(text) + "' is not a valid integer value";
    Require(error.what() == message.substr(0, message.find('\0')));
  }
}

void CheckAccepted(std::string_view text, std::int32_t value) {
  Require(Expected(text) == value);
  Require(djkivo::app::StrToInt(text) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(bytes);
  if (size >= 4) {
    std::int32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    const std::int64_t wide = value;
    const std::uint64_t magnitude = wide < 0 ? static_cast<std::uint64_t>(-wide) : wide;
    const std::string sign = wide < 0 ? "-" : (data[0] & 1) ? "+" : "";
    const std::string spaces(data[1] % 4, ' ');
    char hex[32];
    std::snprintf(hex, sizeof hex, (data[2] & 1) ? "%" PRIX64 : "%" PRIx64, magnitude);
    CheckAccepted(spaces + sign + std::to_string(magnitude), value);
    CheckAccepted(spaces + sign + "$" + hex, value);
    CheckAccepted(spaces + sign + ((data[3] & 1) ? "0X" : "0x") + hex, value);
    CheckAccepted(sign + std::string(data[3] % 8, '0') + std::to_string(magnitude), value);
  }
  return 0;
}
