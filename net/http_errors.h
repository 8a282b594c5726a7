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
  /// The error for the system's error number `error`, with strerror's text.
  static ESocketError FromErrno(int error);
  int LastError() const { return error_; }
  /// The error's text alone ("Connection refused").
  const std::string& Text() const { return text_; }

 private:
  int error_;
  std::string text_;
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

 protected:
  explicit EConnClosedGracefully(const std::string& message) : EHttpClientError(message) {}
};

/// A TLS connection ended without the server's close_notify: the close may be anyone's on the
/// way, so what came before it is not known to be whole: "Connection closed without TLS
/// close_notify.". A load never takes a body cut off this way as complete.
class ETlsTruncated : public EConnClosedGracefully {
 public:
  ETlsTruncated() : EConnClosedGracefully("Connection closed without TLS close_notify.") {}
};

/// A status, header or chunk line longer than the line limit: "Max line length exceeded.".
class EMaxLineLengthExceeded : public EHttpClientError {
 public:
  EMaxLineLengthExceeded() : EHttpClientError("Max line length exceeded.") {}
};

/// A TLS session that could not be set up or failed: a handshake that stalled or broke off, a
/// server that does not speak TLS or only an old version of it, a CA file that cannot be read.
/// The message says which in words, naming the server.
class ETlsError : public EHttpClientError {
 public:
  using EHttpClientError::EHttpClientError;
};

/// What a server's certificate failed on.
enum class TCertificateProblem {
  kExpired,        // past its end of validity (it or a certificate of its chain)
  kNotYetValid,    // before its start of validity
  kOtherHost,      // issued for other names than the host asked for
  kSelfSigned,     // signed by itself and not trusted
  kUnknownIssuer,  // issued by an authority that is not trusted, or sent without its chain
  kOther,          // anything else the check refused (a bad signature, a weak key, ...)
};

/// The server's certificate did not pass the check; nothing was sent to that server. The
/// message names the problem and the host in plain words, e.g. "The certificate of
/// 127.0.0.1 has expired (it was valid until 2024-01-01 00:00:00 UTC)."
class ECertificateError : public ETlsError {
 public:
  ECertificateError(TCertificateProblem problem, const std::string& message)
      : ETlsError(message), problem_(problem) {}
  TCertificateProblem Problem() const { return problem_; }

 private:
  TCertificateProblem problem_;
};

/// A proxy that could not be reached, refused the request or the tunnel, or asked for
/// credentials it did not get. The message names the proxy ("host:port") and its answer, e.g.
/// "Proxy 127.0.0.1:3128 refused the tunnel to example.com:443: HTTP/1.0 403 Access denied".
class EProxyError : public EHttpClientError {
 public:
  using EHttpClientError::EHttpClientError;
};

/// A URL whose scheme is not "http" or "https", or that leaves no port: "Unknown Protocol".
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
