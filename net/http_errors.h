// The failures of an HTTP load. Every failure of the client is one of these exceptions, each
// with the fixed English message its kind always carries, so callers and the command-line tool
// can show `what()` as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace djkivo::net {

/// Base of every failure the HTTP client raises.
class EHttpClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A final status the client does not accept (4xx, 5xx, 304, an unfollowed redirect, an
/// authentication request). The message is the status line as received, for example
/// "HTTP/1.1 404 Not Found"; the status code and the (decoded) body come with it.
class EHttpProtocolError : public EHttpClientError {
 public:
  EHttpProtocolError(const std::string& status_line, int code, std::string body)
      : EHttpClientError(status_line), code_(code), body_(std::move(body)) {}
  int ErrorCode() const { return code_; }
  const std::string& ErrorMessage() const { return body_; }

 private:
  int code_;
  std::string body_;
};

/// A failed name resolution, connect, send or receive: "Socket Error # %d\r\n%s" with the
/// system's error number (a negative getaddrinfo code for a failed resolution) and its text.
class ESocketError : public EHttpClientError {
 public:
  ESocketError(int error, const std::string& text);
  int LastError() const { return error_; }

 private:
  int error_;
};

/// The connect did not finish within the connect limit: "Connect timed out.".
class EConnectTimeout : public EHttpClientError {
 public:
  EConnectTimeout() : EHttpClientError("Connect timed out.") {}
};

/// No byte arrived within the read limit: "Read timed out.".
class EReadTimeout : public EHttpClientError {
 public:
  EReadTimeout() : EHttpClientError("Read timed out.") {}
};

/// The whole load, redirects included, did not finish within the load limit (a peer that
/// trickles a byte now and then never trips the read limit): "Load timed out.".
class ELoadTimeout : public EHttpClientError {
 public:
  ELoadTimeout() : EHttpClientError("Load timed out.") {}
};

/// The peer closed before the status line ended, or before a framed body was complete:
/// "Connection Closed Gracefully.".
class EConnClosedGracefully : public EHttpClientError {
 public:
  EConnClosedGracefully() : EHttpClientError("Connection Closed Gracefully.") {}
};

/// A status, header or chunk line longer than the line limit: "Max line length exceeded.".
class EMaxLineLengthExceeded : public EHttpClientError {
 public:
  EMaxLineLengthExceeded() : EHttpClientError("Max line length exceeded.") {}
};

/// A URL whose scheme is not "http" or that leaves no port: "Unknown Protocol".
class EUnknownProtocol : public EHttpClientError {
 public:
  EUnknownProtocol() : EHttpClientError("Unknown Protocol") {}
};

/// A URL with an empty host at connect time. Its message is empty.
class EHostRequired : public EHttpClientError {
 public:
  EHostRequired() : EHttpClientError("") {}
};

/// zlib reported an error while decoding a body: "ZLib Error (%d)" with zlib's code.
class EDecompressionError : public EHttpClientError {
 public:
  explicit EDecompressionError(int zlib_code);
  int ZLibCode() const { return code_; }

 private:
  int code_;
};

/// A body, raw or decoded, above the body limit: "Response too large".
class EResponseTooLarge : public EHttpClientError {
 public:
  EResponseTooLarge() : EHttpClientError("Response too large") {}
};

/// A redirect chain longer than the client follows: "Too many redirects.".
class ETooManyRedirects : public EHttpClientError {
 public:
  ETooManyRedirects() : EHttpClientError("Too many redirects.") {}
};

/// A response whose framing cannot be followed: a chunk size that is not hexadecimal
/// ("Invalid chunk size.") or a head with more header lines than the limit ("Too many header
/// lines.").
class EHttpFramingError : public EHttpClientError {
 public:
  using EHttpClientError::EHttpClientError;
};

}  // namespace djkivo::net
