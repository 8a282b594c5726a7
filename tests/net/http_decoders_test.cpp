// Body decoders on their own: gzip header fields, the zlib/gzip/raw probe, split input,
// damaged and oversized data.
#include "net/http_decoders.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "net/byte_sink.h"
#include "net/http_errors.h"
#include "net/http_framing.h"
#include "tests/support/compressed.h"

namespace djkivo::net {
namespace {

using test::Gzip;
using test::GzipFields;

// Decodes `body` as `encoding`, fed in pieces of `piece` bytes.
std::string Decode(const std::string& encoding, const std::string& body,
                   std::size_t piece = 1 << 20) {
  std::string out;
  StringSink sink(out);
  LimitSink limit(sink, kMaxBodyBytes);
  THttpDecompressor decompressor;
  const std::unique_ptr<ByteSink> decoder = decompressor.DecoderFor(encoding, limit);
  EXPECT_NE(decoder, nullptr);
  for (std::size_t at = 0; at < body.size(); at += piece)
    decoder->Write(std::string_view(body).substr(at, piece));
  decoder->Finish();
  return out;
}

int ZlibErrorOf(const std::string& encoding, const std::string& body) {
  try {
    Decode(encoding, body);
  } catch (const EDecompressionError& error) {
    EXPECT_EQ(std::string(error.what()), "ZLib Error (" + std::to_string(error.ZLibCode()) + ")");
    return error.ZLibCode();
  }
  return 0;
}

const std::string kText = test::PageText(70000);

TEST(HttpDecodersTest, EveryGzipHeaderFieldIsSkipped) {
  const GzipFields kCases[] = {
      {},
      {"", "page.html", "", false},
      {"ex\0tra", "", "", false},
      {"", "", "a comment", false},
      {"", "", "", true},
      {std::string(300, 'x'), "name", "comment", true},
  };
  for (const GzipFields& fields : kCases) {
    SCOPED_TRACE(fields.name + "|" + fields.comment);
    const std::string body = Gzip(kText, fields);
    EXPECT_EQ(Decode("gzip", body), kText);
    EXPECT_EQ(Decode("gzip", body, 1), kText);     // every state boundary inside a header
    EXPECT_EQ(Decode("deflate", body, 3), kText);  // the probe recognises the gzip header
  }
}

TEST(HttpDecodersTest, DeflateProbesZlibGzipAndRawData) {
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{4096}}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(Decode("deflate", test::ZlibCompress(kText), piece), kText);
    EXPECT_EQ(Decode("deflate", test::RawDeflate(kText), piece), kText);
    EXPECT_EQ(Decode("deflate", test::RawDeflate("ab"), piece), "ab");
  }
}

TEST(HttpDecodersTest, EncodingNamesMatchWholeValueIgnoringCase) {
  EXPECT_EQ(Decode(" GZip ", Gzip("x")), "x");
  EXPECT_EQ(Decode("DEFLATE", test::ZlibCompress("y")), "y");
  THttpDecompressor decompressor;
  DiscardSink sink;
  for (const char* other : {"", "identity", "br", "gzip, br", "x-gzip"})
    EXPECT_EQ(decompressor.DecoderFor(other, sink), nullptr) << other;
}

TEST(HttpDecodersTest, TrailerIsNotCheckedAndEmptyBodyIsEmpty) {
  std::string body = Gzip(kText);
  body[body.size() - 5] ^= 0x55;  // a damaged CRC
  EXPECT_EQ(Decode("gzip", body), kText);
  EXPECT_EQ(Decode("gzip", ""), "");
  EXPECT_EQ(Decode("deflate", ""), "");
}

TEST(HttpDecodersTest, DamagedDataRaisesZlibError) {
  std::string corrupt = Gzip(kText);
  corrupt[12] = '\xff';  // reserved block type in the first deflate block header
  EXPECT_EQ(ZlibErrorOf("gzip", corrupt), Z_DATA_ERROR);
  const std::string whole = Gzip(kText);
  EXPECT_EQ(ZlibErrorOf("gzip", whole.substr(0, whole.size() / 2)), Z_BUF_ERROR);
  EXPECT_EQ(ZlibErrorOf("gzip", whole.substr(0, 6)), Z_BUF_ERROR);       // inside the header
  EXPECT_EQ(ZlibErrorOf("deflate", std::string(1, '\0')), Z_BUF_ERROR);  // a stored block cut short
  EXPECT_EQ(ZlibErrorOf("deflate", "\xff"), Z_DATA_ERROR);               // a reserved block type
}

TEST(HttpDecodersTest, DecompressionBombStopsAtTheLimit) {
  const std::string bomb = Gzip(std::string(kMaxBodyBytes + 1, 'a'));
  ASSERT_LT(bomb.size(), 200000u);
  EXPECT_THROW(Decode("gzip", bomb), EResponseTooLarge);
}

}  // namespace
}  // namespace djkivo::net
