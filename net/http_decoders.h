// Body decoders for "gzip" and "deflate" content, chained as byte sinks: the raw body goes
// in as it arrives, the decoded bytes go on to the next sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/byte_sink.h"

struct z_stream_s;

namespace djkivo::net {

/// Skips a gzip member header: 10 fixed bytes, then the extra field (FEXTRA, a 2-byte
/// little-endian length and that many bytes), the name (FNAME, zero-terminated), the comment
/// (FCOMMENT, zero-terminated) and the header CRC (FHCRC, 2 bytes), each when its flag is set.
/// Neither the magic bytes nor the CRC are checked.
class TGzipHeaderSkipper {
 public:
  /// Consumes header bytes from `bytes`; returns how many were header (fewer than all only
  /// once the header has ended).
  std::size_t Feed(std::string_view bytes);
  bool Done() const { return state_ == State::kDone; }

 private:
  enum class State {
    kFixed,        // the 10 fixed bytes; the flag byte is the fourth; then the optional fields
    kExtraLength,  // the 2 length bytes of the extra field
    kExtra,        // extra_left_ bytes of the extra field
    kName,         // the file name, up to and including its zero byte
    kComment,      // the comment, up to and including its zero byte
    kHeaderCrc,    // the 2 bytes of the header CRC
    kDone,         // the compressed data starts with the next byte
  };
  static constexpr std::uint8_t kFlagHeaderCrc = 0x02;
  static constexpr std::uint8_t kFlagExtra = 0x04;
  static constexpr std::uint8_t kFlagName = 0x08;
  static constexpr std::uint8_t kFlagComment = 0x10;
  static constexpr std::size_t kFixedLength = 10;

  // The state after `after`, skipping the optional fields whose flags are not set.
  State Next(State after) const;

  State state_ = State::kFixed;
  std::size_t count_ = 0;  // bytes of the current fixed-size field seen so far
  std::uint8_t flags_ = 0;
  std::size_t extra_left_ = 0;  // little-endian length while in kExtraLength
};

/// Inflates a body into `next`.
///
/// A "gzip" body has its gzip header skipped and the deflate data after it inflated. A
/// "deflate" body is probed: a zlib header is skipped, a gzip header too, and anything else is
/// inflated as raw deflate data from its first byte (some servers send raw deflate under
/// "deflate"). Inflating stops at the end of the deflate data; the trailer after it (CRC,
/// length or Adler-32) is not checked. An empty body decodes to nothing. zlib's errors raise
/// EDecompressionError with zlib's code; data that ends before the deflate data does raises
/// it with Z_BUF_ERROR (-5).
class TInflateSink final : public ByteSink {
 public:
  enum class Start { kGzipHeader, kProbe };
  TInflateSink(Start start, ByteSink& next);
  ~TInflateSink() override;
  TInflateSink(const TInflateSink&) = delete;
  TInflateSink& operator=(const TInflateSink&) = delete;

  void Write(std::string_view bytes) override;
  void Finish() override;

 private:
  enum class State {
    kProbe,       // collecting the first bytes to tell zlib, gzip and raw data apart
    kGzipHeader,  // skipping a gzip header
    kInflate,     // inflating raw deflate data
    kEnd,         // the deflate data ended; the rest (a trailer) is ignored
  };
  // Bytes needed to tell a gzip header (magic, method, flags) from raw data.
  static constexpr std::size_t kProbeLength = 4;
  static constexpr std::size_t kOutputBlock = 65536;

  // Decides what the collected first bytes start with and passes them on, unless more bytes
  // are needed to decide and the body is not `complete` yet.
  void Probe(bool complete);
  void Inflate(std::string_view bytes);
  void Feed(std::string_view bytes);

  ByteSink& next_;
  State state_;
  std::string probe_;  // the first bytes, while kProbe
  TGzipHeaderSkipper gzip_header_;
  bool received_ = false;  // some body byte came
  std::unique_ptr<z_stream_s> stream_;
  std::vector<char> output_;
};

/// The decompressor attached to a client: creates the decoder a response's Content-Encoding
/// asks for. Stateless; may serve any number of loads.
class THttpDecompressor {
 public:
  /// A decoder into `next` when `content_encoding` is "gzip" or "deflate" (the whole trimmed
  /// value, any letter case); nullptr when the body is passed on unchanged.
  std::unique_ptr<ByteSink> DecoderFor(std::string_view content_encoding, ByteSink& next) const;
};

}  // namespace djkivo::net
