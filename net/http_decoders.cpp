// Gzip header skipping, the zlib/gzip/raw probe and streaming inflate. Covered by
// tests/net/http_decoders_test.cpp and fuzz/http_response_fuzz.cpp.
#include "net/http_decoders.h"

#include <zlib.h>

#include <algorithm>

#include "net/http_errors.h"
#include "net/http_text.h"

namespace djkivo::net {

TGzipHeaderSkipper::State TGzipHeaderSkipper::Next(State after) const {
  switch (after) {
    case State::kFixed:
      if (flags_ & kFlagExtra)
        return State::kExtraLength;
      [[fallthrough]];
    case State::kExtraLength:
    case State::kExtra:
      if (flags_ & kFlagName)
        return State::kName;
      [[fallthrough]];
    case State::kName:
      if (flags_ & kFlagComment)
        return State::kComment;
      [[fallthrough]];
    case State::kComment:
      if (flags_ & kFlagHeaderCrc)
        return State::kHeaderCrc;
      [[fallthrough]];
    case State::kHeaderCrc:
    case State::kDone:
      return State::kDone;
  }
  return State::kDone;
}

std::size_t TGzipHeaderSkipper::Feed(std::string_view bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && state_ != State::kDone) {
    const auto byte = static_cast<std::uint8_t>(bytes[used]);
    switch (state_) {
      case State::kFixed:
        if (count_ == 3)
          flags_ = byte;
        ++used;
        if (++count_ == kFixedLength) {
          count_ = 0;
          state_ = Next(State::kFixed);
        }
        break;
      case State::kExtraLength:
        extra_left_ |= static_cast<std::size_t>(byte) << (8 * count_);
        ++used;
        if (++count_ == 2) {
          count_ = 0;
          state_ = extra_left_ > 0 ? State::kExtra : Next(State::kExtra);
        }
        break;
      case State::kExtra: {
        const std::size_t take = std::min(extra_left_, bytes.size() - used);
        used += take;
        extra_left_ -= take;
        if (extra_left_ == 0)
          state_ = Next(State::kExtra);
        break;
      }
      case State::kName:
      case State::kComment: {
        const std::size_t zero = bytes.find('\0', used);
        if (zero == std::string_view::npos) {
          used = bytes.size();
        } else {
          used = zero + 1;
          state_ = Next(state_);
        }
        break;
      }
      case State::kHeaderCrc:
        ++used;
        if (++count_ == 2)
          state_ = State::kDone;
        break;
      case State::kDone:
        break;
    }
  }
  return used;
}

TInflateSink::TInflateSink(Start start, ByteSink& next)
    : next_(next),
      state_(start == Start::kGzipHeader ? State::kGzipHeader : State::kProbe),
      stream_(std::make_unique<z_stream>()),
      output_(kOutputBlock) {
  // Raw deflate with a 32 KiB window: the headers around the data are handled here.
  if (const int status = inflateInit2(stream_.get(), -MAX_WBITS); status != Z_OK)
    throw EDecompressionError(status);
}

TInflateSink::~TInflateSink() { inflateEnd(stream_.get()); }

void TInflateSink::Write(std::string_view bytes) {
  if (bytes.empty())
    return;
  received_ = true;
  if (state_ != State::kProbe) {
    Feed(bytes);
    return;
  }
  probe_.append(bytes);
  Probe(false);
}

void TInflateSink::Probe(bool complete) {
  const auto byte = [this](std::size_t i) { return static_cast<std::uint8_t>(probe_[i]); };
  if (probe_.size() >= 2) {
    const unsigned cmf = byte(0);
    const unsigned flg = byte(1);
    // A zlib header: deflate with a window zlib accepts, a valid check, no preset dictionary.
    if ((cmf & 0x0F) == Z_DEFLATED && (cmf >> 4) + 8 <= MAX_WBITS && (cmf * 256 + flg) % 31 == 0 &&
        (flg & 0x20) == 0) {
      state_ = State::kInflate;
      Feed(std::string_view(probe_).substr(2));
      probe_.clear();
      return;
    }
    // A gzip header: magic, deflate method, no reserved flag bits.
    const bool gzip_magic = cmf == 0x1F && flg == 0x8B;
    if (gzip_magic && probe_.size() < kProbeLength && !complete)
      return;
    if (gzip_magic && probe_.size() >= kProbeLength && byte(2) == Z_DEFLATED &&
        (byte(3) & 0xE0) == 0)
      state_ = State::kGzipHeader;
  } else if (!complete) {
    return;
  }
  if (state_ == State::kProbe)
    state_ = State::kInflate;
  const std::string bytes = std::move(probe_);
  probe_.clear();
  Feed(bytes);
}

void TInflateSink::Feed(std::string_view bytes) {
  if (state_ == State::kGzipHeader) {
    bytes.remove_prefix(gzip_header_.Feed(bytes));
    if (!gzip_header_.Done())
      return;
    state_ = State::kInflate;
  }
  if (state_ == State::kInflate && !bytes.empty())
    Inflate(bytes);
}

void TInflateSink::Inflate(std::string_view bytes) {
  z_stream& z = *stream_;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(output_.data());
    z.avail_out = static_cast<uInt>(output_.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = output_.size() - z.avail_out;
    if (produced > 0)
      next_.Write(std::string_view(output_.data(), produced));
    if (status == Z_STREAM_END) {
      state_ = State::kEnd;
      return;
    }
    if (status == Z_BUF_ERROR)  // no progress possible: every input byte is used
      return;
    if (status < 0)
      throw EDecompressionError(status);
    if (z.avail_in == 0 && z.avail_out != 0)
      return;
  }
}

void TInflateSink::Finish() {
  if (received_) {
    if (state_ == State::kProbe)
      Probe(true);
    if (state_ != State::kEnd)
      throw EDecompressionError(Z_BUF_ERROR);
  }
  next_.Finish();
}

std::unique_ptr<ByteSink> THttpDecompressor::DecoderFor(std::string_view content_encoding,
                                                        ByteSink& next) const {
  const std::string_view encoding = Trimmed(content_encoding);
  if (IEquals(encoding, "gzip"))
    return std::make_unique<TInflateSink>(TInflateSink::Start::kGzipHeader, next);
  if (IEquals(encoding, "deflate"))
    return std::make_unique<TInflateSink>(TInflateSink::Start::kProbe, next);
  return nullptr;
}

}  // namespace djkivo::net
