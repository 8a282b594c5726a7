// The chunked-body decoder fed one byte at a time (every state boundary split) and whole,
// stopping exactly where the next response begins.
#include "net/http_framing.h"

#include <gtest/gtest.h>

#include "net/http_errors.h"

namespace djkivo::net {
namespace {

TEST(HttpFramingTest, ChunkDecoderGivesTheSameResultHoweverTheBytesArrive) {
  const std::string wire =
      "1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\n\r\n\r\n0\r\nX-A: 1\r\nX-B: 2\r\n\r\nHTTP/1.1 "
      "200 OK";
  const std::size_t body_end = wire.find("HTTP/1.1");
  for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, wire.size()}) {
    SCOPED_TRACE(piece);
    std::string body;
    StringSink sink(body);
    THeaderList trailers;
    TChunkDecoder chunks(sink, trailers);
    std::size_t used = 0;
    while (!chunks.Done() && used < wire.size()) {
      const std::string_view bytes = std::string_view(wire).substr(used, piece);
      used += chunks.Feed(bytes);
    }
    EXPECT_TRUE(chunks.Done());
    EXPECT_EQ(used, body_end);  // the next response is left for the next read
    EXPECT_EQ(body, "abcdefghijklmnopqrstuvwxyz\r\n\r");
    EXPECT_EQ(trailers.Lines(), (std::vector<std::string>{"X-A: 1", "X-B: 2"}));
  }
}

TEST(HttpFramingTest, ChunkSizesThatAreNotHexadecimalFail) {
  for (const char* size : {"g", "-1", "0x10", "1 2", "1234567890abcdef0"}) {
    SCOPED_TRACE(size);
    std::string body;
    StringSink sink(body);
    THeaderList trailers;
    TChunkDecoder chunks(sink, trailers);
    EXPECT_THROW(chunks.Feed(std::string(size) + "\r\n"), EHttpFramingError);
  }
}

}  // namespace
}  // namespace djkivo::net
