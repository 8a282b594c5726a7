// Byte-level rules of GBK text, the encoding every text of the player is kept in.
#pragma once

#include <cstddef>
#include <string_view>

namespace djkivo {

/// True for a byte that starts a two-byte GBK character.
constexpr bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

/// The longest prefix of `text` of at most `max_bytes` bytes that does not end in half a
/// character. A lead byte at the very end of `text` counts as one (broken) character.
std::size_t GbkPrefixLength(std::string_view text, std::size_t max_bytes);

}  // namespace djkivo
