// Byte-level rules of GBK text, the encoding every text of the player is kept in: where one
// character ends. The site's pages, the play list file and the typed keyword are GBK, and the
// window converts them with GB18030 (its superset), so a character is what GB18030 says it is:
// one byte, a lead byte with a trail byte, or the four-byte form lead-digit-lead-digit that
// GB18030 uses for characters outside GBK.
#pragma once

#include <cstddef>
#include <string_view>

namespace djkivo {

/// True for a byte that starts a multi-byte GBK (GB18030) character.
constexpr bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

/// The byte length of the character starting at `pos` of `text` (pos < text.size()): 2 for a
/// lead byte with a trail byte (0x40-0xFE but 0x7F), 4 for the GB18030 four-byte form, else 1.
/// A lead byte that starts no complete sequence (at the end, or before a byte that is no trail
/// byte, such as a line break or a space) counts as one broken character, so a walk with this
/// function always advances, never reads past the end, and never swallows the byte after it.
std::size_t GbkCharLength(std::string_view text, std::size_t pos);

/// The longest prefix of `text` of at most `max_bytes` bytes that does not end in part of a
/// character (as `GbkCharLength` counts them).
std::size_t GbkPrefixLength(std::string_view text, std::size_t max_bytes);

}  // namespace djkivo
