// The encoding of a value in an address's query, as the site's search form sends it: the
// player encodes the typed keyword with it, and the demo site decodes it and writes its own
// search links with it. Values are bytes (GBK keywords); pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace djkivo {

/// ASCII letters, digits and "*@._-$!'()" are copied, a space becomes "+", every other byte
/// (each byte of a GBK character, every control byte) becomes "%" and two upper-case
/// hexadecimal digits.
std::string EncodeQueryValue(std::string_view value);

/// The inverse for any query value: "%XX" becomes its byte and "+" a space; a "%" not followed
/// by two hexadecimal digits stays as it is.
std::string DecodeQueryValue(std::string_view value);

}  // namespace djkivo
