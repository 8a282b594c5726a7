// Byte-string helpers of the window logic: splitting and the whole-number conversion. Texts
// are GBK bytes held in std::string, never converted (base/ascii.h and base/gbk.h hold the
// byte rules). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace djkivo::app {

/// The failure of the whole-number conversion; the message is the one the error box shows.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// `SplitString`'s result.
using TStringArray = std::vector<std::string>;

/// Splits `text` at every occurrence of `separator`, left to right. The result always has one
/// element more than the separators found: "" gives {""}, "|" gives {"", ""}, "a|" gives
/// {"a", ""}. An empty separator gives {text}.
TStringArray SplitString(std::string_view text, std::string_view separator);

/// The standard whole-number conversion used by the page box and the version file: optional
/// leading spaces, an optional sign, then decimal digits, or hexadecimal digits after "$" or
/// "0x" ("0X"). Anything else, a trailing line break or space included, and any value outside
/// the 32-bit signed range, throws `EConvertError` with "'TEXT' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

}  // namespace djkivo::app
