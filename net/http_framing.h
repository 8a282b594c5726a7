// Body framing: whether a body follows a response head, and reading it (Content-Length,
// chunked with trailers, or up to the close) into a byte sink.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_sink.h"
#include "net/http_response_head.h"

namespace djkivo::net {

class HttpInput;
class THttpDecompressor;

/// A body, raw or decoded, may hold at most this many bytes. The site's pages are far
/// smaller; the limit keeps an endless body or a decompression bomb from exhausting memory.
inline constexpr std::uint64_t kMaxBodyBytes = 64ull << 20;

/// A redirect's head may be followed by a body without any length; the client reads one only
/// if it is already buffered or starts within this time.
inline constexpr std::chrono::milliseconds kRedirectBodyWait{5000};

/// How a response's body is delimited.
enum class TBodyFraming {
  kNone,           // no body follows the head
  kChunked,        // chunks up to a zero-size chunk, then trailer lines up to an empty line
  kContentLength,  // exactly Content-Length bytes
  kUntilClose,     // everything up to the peer's close
  kAbandoned,      // a redirect's body that did not start in time: not read, and the
                   // connection cannot carry another request (it may still come)
};

/// Decides whether a body follows `response` to a request of `method`, and its framing. For
/// a 3xx it may wait up to kRedirectBodyWait for input. Throws EHttpFramingError ("Invalid
/// Content-Length.") when a body would be framed by a Content-Length that is not one whole
/// number.
TBodyFraming BodyFraming(const THttpResponse& response, std::string_view method, HttpInput& input);

/// Takes a chunked body apart as its bytes are pushed in: the chunks' data goes to the body
/// sink, the trailer lines go to `trailers`.
class TChunkDecoder {
 public:
  TChunkDecoder(ByteSink& body, THeaderList& trailers) : body_(body), trailers_(trailers) {}

  /// Consumes from `bytes`; returns how many were used: all of them, or fewer once the
  /// trailers have ended (what follows belongs to the next response). Throws
  /// EHttpFramingError ("Invalid chunk size.": a size that is not hexadecimal),
  /// EMaxLineLengthExceeded, and what the body sink throws.
  std::size_t Feed(std::string_view bytes);

  /// The empty line after the trailers has come.
  bool Done() const { return state_ == State::kDone; }
  /// Every chunk has come; only trailer lines are left, so a close now loses no data.
  bool InTrailers() const { return state_ == State::kTrailerLine; }

 private:
  enum class State {
    kSizeLine,     // a chunk-size line: hex digits, optional ";extension", CR LF
    kData,         // data_left_ bytes of chunk data, then kDataEnd
    kDataEnd,      // the line break after a chunk's data; then the next kSizeLine
    kTrailerLine,  // after the zero-size chunk: trailer lines up to an empty one
    kDone,         // the body has ended
  };
  // A size above 15 hex digits cannot be a body this client accepts.
  static constexpr std::size_t kMaxSizeDigits = 15;

  // Collects line bytes up to LF; true when `line_` is complete.
  bool TakeLine(std::string_view bytes, std::size_t& used);
  void OnSizeLine();
  void OnTrailerLine();

  ByteSink& body_;
  THeaderList& trailers_;
  State state_ = State::kSizeLine;
  std::string line_;             // the line being collected
  std::uint64_t data_left_ = 0;  // while kData
  int trailer_count_ = 0;
};

/// Reads the body framed by `framing` into `sink`, which gets `Finish` when the body is
/// complete. A chunked body's trailers are added to `response.headers`. A body cut short by
/// the peer's close (Content-Length or chunked) raises EConnClosedGracefully; a close during
/// the trailers does not. Throws EResponseTooLarge for a Content-Length above kMaxBodyBytes,
/// EHttpFramingError, EMaxLineLengthExceeded, EReadTimeout, ESocketError, and what `sink`
/// throws.
void ReadBody(HttpInput& input, TBodyFraming framing, THttpResponse& response, ByteSink& sink);

/// Reads the body that follows `response` (to a request of `method`) into `out`, through the
/// raw and decoded size limits and, with a `decompressor`, the decoder its Content-Encoding
/// asks for; with `out` null the body is read and thrown away. Returns the framing read (after
/// kAbandoned the connection must not be reused). Throws what `BodyFraming`, `ReadBody` and the
/// decoder throw.
TBodyFraming ReadResponseBody(HttpInput& input, std::string_view method, THttpResponse& response,
                              const THttpDecompressor* decompressor, std::string* out);

}  // namespace djkivo::net
