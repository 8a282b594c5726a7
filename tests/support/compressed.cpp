#include "tests/support/compressed.h"

#include <zlib.h>

#include <random>
#include <stdexcept>

namespace djkivo::test {

namespace {

std::string Deflate(std::string_view text, int window_bits) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (status != Z_STREAM_END)
    throw std::runtime_error("deflate failed");
  return out;
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string ZlibCompress(std::string_view text) { return Deflate(text, MAX_WBITS); }

std::string RawDeflate(std::string_view text) { return Deflate(text, -MAX_WBITS); }

std::string Gzip(std::string_view text, const GzipFields& fields) {
  std::uint8_t flags = 0;
  if (fields.header_crc)
    flags |= 0x02;
  if (!fields.extra.empty())
    flags |= 0x04;
  if (!fields.name.empty())
    flags |= 0x08;
  if (!fields.comment.empty())
    flags |= 0x10;
  std::string out = {'\x1f', '\x8b', '\x08', static_cast<char>(flags), 0, 0, 0, 0, 0, '\x03'};
  if (!fields.extra.empty()) {
    PutLittleEndian(out, static_cast<std::uint32_t>(fields.extra.size()), 2);
    out += fields.extra;
  }
  if (!fields.name.empty())
    out += fields.name + '\0';
  if (!fields.comment.empty())
    out += fields.comment + '\0';
  if (fields.header_crc)
    PutLittleEndian(
        out, crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())),
        2);
  out += RawDeflate(text);
  PutLittleEndian(
      out, crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())),
      4);
  PutLittleEndian(out, static_cast<std::uint32_t>(text.size()), 4);
  return out;
}

std::string PageText(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"<li class=\"wq_2\">",
                                       "dance",
                                       "remix",
                                       "</a>",
                                       "DJ",
                                       "2026",
                                       "<ul>",
                                       "song",
                                       "mix",
                                       "club",
                                       "<a href=/dance/play/",
                                       ".html>",
                                       "</li>\n",
                                       "bass",
                                       "live",
                                       "house",
                                       "vocal"};
  std::mt19937 generator(seed);
  std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
  std::uniform_int_distribution<int> digit(0, 9);
  std::string text;
  text.reserve(size + 32);
  while (text.size() < size) {
    text += kWords[word(generator)];
    text += static_cast<char>('0' + digit(generator));
    text += ' ';
  }
  text.resize(size);
  return text;
}

std::string Gunzip(std::string_view data) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
    throw std::runtime_error("inflateInit2 failed");
  std::string out;
  char chunk[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("bad gzip data");
  return out;
}

}  // namespace djkivo::test
