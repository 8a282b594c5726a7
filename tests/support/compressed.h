// Compressed test bodies made with zlib: zlib, gzip (with any header flags) and raw deflate,
// and gzip data read back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace djkivo::test {

/// `text` deflated inside a zlib header and Adler-32 trailer.
std::string ZlibCompress(std::string_view text);
/// `text` as raw deflate data, without header or trailer.
std::string RawDeflate(std::string_view text);

/// Optional fields of a gzip header.
struct GzipFields {
  std::string extra;        // FEXTRA when not empty
  std::string name;         // FNAME when not empty
  std::string comment;      // FCOMMENT when not empty
  bool header_crc = false;  // FHCRC
};
/// `text` as one gzip member with the given header fields, CRC-32 and length trailer.
std::string Gzip(std::string_view text, const GzipFields& fields = {});

/// The text inside gzip `data` (one member). Throws std::runtime_error on data that is not.
std::string Gunzip(std::string_view data);

/// Reproducible page-like text of `size` bytes (words, markup, line breaks) that compresses
/// about as well as the site's pages.
std::string PageText(std::size_t size, std::uint32_t seed = 1);

}  // namespace djkivo::test
