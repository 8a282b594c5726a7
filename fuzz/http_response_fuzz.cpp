// Fuzz target for the response path: status line, header lines, body framing (chunked with
// trailers, Content-Length, until close) and the gzip/deflate decoders, fed from memory
// exactly as the client reads a response from its connection.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/http_decoders.h"
#include "net/http_errors.h"
#include "net/http_framing.h"
#include "net/http_input.h"
#include "net/http_response_head.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace djkivo::net;
  MemoryInput input(std::string_view(reinterpret_cast<const char*>(data), size));
  THttpResponse response;
  const THttpDecompressor decompressor;
  try {
    do
      ReadResponseHead(input, response);
    while (response.code == 100);
    std::string body;
    ReadResponseBody(input, "GET", response, &decompressor, &body);
    if (body.size() > kMaxBodyBytes)
      __builtin_trap();  // the limit let a body through
    response.KeepAlive(input.PeerClosed());
  } catch (const EHttpClientError&) {
    // Every rejection of a bad response is one of the client's own failures.
  }
  return 0;
}
