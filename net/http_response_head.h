// The response head: status line, header lines, and the values the client acts on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace djkivo::net {

class HttpInput;

/// Header lines held as "Name: value". Names are looked up without regard to case; the first
/// line with a name wins.
class THeaderList {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Add(std::string_view name, std::string_view value);
  void Clear() { lines_.clear(); }

  /// The trimmed value of the first line named `name`, or "" when there is none.
  std::string Value(std::string_view name) const;
  /// Whether a line named `name` exists.
  bool Has(std::string_view name) const;
  /// The trimmed values of every line named `name`, in order (Set-Cookie).
  std::vector<std::string> Values(std::string_view name) const;

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  // The value of `line` if it is named `name`.
  static bool Match(std::string_view line, std::string_view name, std::string_view& value);

  std::vector<std::string> lines_;
};

/// One response as the client sees it. Filled by `ReadResponseHead`, then by the body reader
/// (trailers, keep-alive).
struct THttpResponse {
  std::string status_line;           // as received
  int code = -1;                     // the status line's second token, -1 when it is not a number
  std::string version;               // "1.0" or "1.1": characters 6 to 8 of the status line
  THeaderList headers;               // the head's lines, then the trailers of a chunked body
  std::int64_t content_length = -1;  // -1 when absent, not a number, or two values differ
  bool has_content_length = false;   // the header was present
  std::string content_type = "text/html";
  std::string charset = "ISO-8859-1";
  std::string content_encoding;
  std::string transfer_encoding;
  std::string connection;
  std::string proxy_connection;
  std::string location;
  std::string www_authenticate;
  bool keep_alive = false;  // the connection may carry the next request (see `KeepAlive`)

  /// Whether the connection may carry another request after this response: not when the
  /// peer has closed, and otherwise (HTTP/1.1) unless Connection or Proxy-Connection is
  /// "close".
  bool KeepAlive(bool peer_closed) const;
};

/// A response head may hold at most this many header lines; a peer cannot make the client
/// buffer header lines without end.
inline constexpr int kMaxHeaderLines = 255;

/// Reads one status line and its header lines up to the empty line, replacing `response`.
/// A close while header lines are read ends the head with what came. Throws
/// EConnClosedGracefully (a close before the status line's end), EMaxLineLengthExceeded,
/// EHttpFramingError (more than kMaxHeaderLines lines), EReadTimeout, ESocketError.
void ReadResponseHead(HttpInput& input, THttpResponse& response);

/// Sets the status fields of `response` from `status_line`.
void ParseStatusLine(const std::string& status_line, THttpResponse& response);

/// Sets the values the client acts on from `response.headers`.
void ParseHeaderValues(THttpResponse& response);

}  // namespace djkivo::net
