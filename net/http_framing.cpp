// Body framing. Covered by tests/net/http_client_test.cpp (framing group) and
// fuzz/http_response_fuzz.cpp.
#include "net/http_framing.h"

#include <algorithm>

#include "base/hex_digit.h"
#include "net/http_decoders.h"
#include "net/http_errors.h"
#include "net/http_input.h"
#include "net/http_text.h"

namespace djkivo::net {

TBodyFraming BodyFraming(const THttpResponse& response, std::string_view method, HttpInput& input) {
  const bool chunked =
      AsciiLowered(response.transfer_encoding).find("chunked") != std::string::npos;
  if (!chunked && response.has_content_length && response.content_length == 0)
    return TBodyFraming::kNone;
  const int code = response.code;
  if (method == "HEAD" || (code >= 100 && code < 200) || code == 204 || code == 304)
    return TBodyFraming::kNone;
  // Read as absent, such a length would give an empty or cut page reported as a success.
  if (!chunked && response.has_content_length && response.content_length < 0)
    throw EHttpFramingError("Invalid Content-Length.");
  if (code >= 300 && code < 400 && !input.DataWithin(kRedirectBodyWait))
    return TBodyFraming::kAbandoned;
  if (chunked)
    return TBodyFraming::kChunked;
  if (response.has_content_length)
    return TBodyFraming::kContentLength;
  return TBodyFraming::kUntilClose;
}

bool TChunkDecoder::TakeLine(std::string_view bytes, std::size_t& used) {
  const std::size_t lf = bytes.find('\n', used);
  const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
  if (line_.size() + (end - used) > HttpInput::kMaxLineLength)
    throw EMaxLineLengthExceeded();
  line_.append(bytes.substr(used, end - used));
  used = lf == std::string_view::npos ? end : lf + 1;
  if (lf == std::string_view::npos)
    return false;
  if (!line_.empty() && line_.back() == '\r')
    line_.pop_back();
  return true;
}

void TChunkDecoder::OnSizeLine() {
  const std::string_view size = Trimmed(std::string_view(line_).substr(0, line_.find(';')));
  // A size that is not hexadecimal would otherwise read as 0 and end the body early, so
  // that the page would be reported complete while data was lost.
  if (size.empty() || size.size() > kMaxSizeDigits)
    throw EHttpFramingError("Invalid chunk size.");
  std::uint64_t value = 0;
  for (const char c : size) {
    const int digit = HexDigitValue(c);
    if (digit < 0)
      throw EHttpFramingError("Invalid chunk size.");
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  data_left_ = value;
  state_ = value == 0 ? State::kTrailerLine : State::kData;
}

void TChunkDecoder::OnTrailerLine() {
  if (line_.empty()) {
    state_ = State::kDone;
    return;
  }
  if (++trailer_count_ > kMaxHeaderLines)
    throw EHttpFramingError("Too many header lines.");
  trailers_.Add(ToAsciiLine(line_));
}

std::size_t TChunkDecoder::Feed(std::string_view bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && state_ != State::kDone) {
    switch (state_) {
      case State::kSizeLine:
        if (TakeLine(bytes, used)) {
          OnSizeLine();
          line_.clear();
        }
        break;
      case State::kData: {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(data_left_, bytes.size() - used));
        body_.Write(bytes.substr(used, take));
        used += take;
        data_left_ -= take;
        if (data_left_ == 0)
          state_ = State::kDataEnd;
        break;
      }
      case State::kDataEnd:
        if (TakeLine(bytes, used)) {
          line_.clear();
          state_ = State::kSizeLine;
        }
        break;
      case State::kTrailerLine:
        if (TakeLine(bytes, used)) {
          OnTrailerLine();
          line_.clear();
        }
        break;
      case State::kDone:
        break;
    }
  }
  return used;
}

void ReadBody(HttpInput& input, TBodyFraming framing, THttpResponse& response, ByteSink& sink) {
  switch (framing) {
    case TBodyFraming::kNone:
    case TBodyFraming::kAbandoned:
      break;
    case TBodyFraming::kContentLength: {
      if (static_cast<std::uint64_t>(response.content_length) > kMaxBodyBytes)
        throw EResponseTooLarge();
      auto left = static_cast<std::uint64_t>(response.content_length);
      while (left > 0) {
        const std::string_view bytes = input.Available();
        // A body cut short is a failed load, not a short page.
        if (bytes.empty())
          throw EConnClosedGracefully();
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
        sink.Write(bytes.substr(0, take));
        input.Consume(take);
        left -= take;
      }
      break;
    }
    case TBodyFraming::kUntilClose:
      for (std::string_view bytes = input.Available(); !bytes.empty(); bytes = input.Available()) {
        sink.Write(bytes);
        input.Consume(bytes.size());
      }
      break;
    case TBodyFraming::kChunked: {
      TChunkDecoder chunks(sink, response.headers);
      while (!chunks.Done()) {
        const std::string_view bytes = input.Available();
        if (bytes.empty()) {
          if (chunks.InTrailers())
            break;
          throw EConnClosedGracefully();
        }
        input.Consume(chunks.Feed(bytes));
      }
      break;
    }
  }
  sink.Finish();
}

TBodyFraming ReadResponseBody(HttpInput& input, std::string_view method, THttpResponse& response,
                              const THttpDecompressor* decompressor, std::string* out) {
  const TBodyFraming framing = BodyFraming(response, method, input);
  if (!out) {
    DiscardSink discard;
    LimitSink raw(discard, kMaxBodyBytes);
    ReadBody(input, framing, response, raw);
    return framing;
  }
  StringSink output(*out);
  LimitSink decoded(output, kMaxBodyBytes);
  const std::unique_ptr<ByteSink> decoder =
      decompressor ? decompressor->DecoderFor(response.content_encoding, decoded) : nullptr;
  LimitSink raw(decoder ? *decoder : static_cast<ByteSink&>(decoded), kMaxBodyBytes);
  ReadBody(input, framing, response, raw);
  return framing;
}

}  // namespace djkivo::net
