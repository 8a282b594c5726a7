// THttpClient: the HTTP/1.1 client every page load runs, on POSIX sockets, OpenSSL and zlib.
// HTTP and HTTPS over IPv6 and IPv4, directly or through an HTTP proxy, GET, redirects (across
// schemes), cookies along a redirect chain, gzip and deflate bodies.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <optional>

#include "net/connection.h"
#include "net/cookie_store.h"
#include "net/http_decoders.h"
#include "net/http_errors.h"
#include "net/http_request_head.h"
#include "net/http_response_head.h"
#include "net/http_url.h"
#include "net/network_settings.h"
#include "net/proxy.h"

namespace djkivo::net {

class TTlsContext;

/// One HTTP/1.1 client. A page load creates one, sets the request fields, runs
/// `GetToStream` once, disconnects and frees it, so nothing carries over between loads.
///
/// Every call comes from one thread at a time (the load's). No wait inside is unbounded: the
/// connect gives up after `ConnectTimeout` (every address of the host included), a TLS
/// handshake's and every read's or send's wait after `ReadTimeout` without progress, the whole
/// load after `LoadTimeout`, and bodies are limited to kMaxBodyBytes raw and decoded.
///
/// "https://" addresses are read over TLS 1.2 or newer with the server's certificate checked
/// (the system store and the settings' CA file); a failed check fails the load, and nothing
/// ever falls back to plain HTTP. Through a proxy, plain HTTP goes as absolute-form requests
/// and HTTPS through a CONNECT tunnel, with TLS end to end inside it.
class THttpClient {
 public:
  /// Default connect limit: far above any sane connect, yet a dead peer cannot hang a load.
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{120000};
  /// Default limit for a read (or send) that makes no progress at all.
  static constexpr std::chrono::milliseconds kDefaultReadTimeout{60000};
  /// Default limit for a whole load, connect and redirects included: a peer trickling a byte
  /// every few seconds stays within the read limit, yet must not hold a load for hours.
  static constexpr std::chrono::milliseconds kDefaultLoadTimeout{120000};
  /// Redirect responses a load accepts, counting the one that fails it: 14 are followed.
  static constexpr int kDefaultRedirectMaximum = 15;

  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  /// The request fields, set before a load.
  THttpRequest& Request() { return request_; }
  /// The last response's head (and trailers), after a load or a failed one.
  const THttpResponse& Response() const { return response_; }

  /// Follow redirects (false when created: a redirect is then a protocol error).
  void SetHandleRedirects(bool handle) { handle_redirects_ = handle; }
  void SetRedirectMaximum(int maximum) { redirect_maximum_ = maximum; }
  /// The decompressor for gzip and deflate bodies; not owned, must outlive the loads. Without
  /// one, such bodies are returned as received.
  void SetCompressor(THttpDecompressor* compressor) { compressor_ = compressor; }
  void SetAllowCookies(bool allow) { allow_cookies_ = allow; }
  void SetConnectTimeout(std::chrono::milliseconds timeout) { connect_timeout_ = timeout; }
  void SetReadTimeout(std::chrono::milliseconds timeout) { read_timeout_ = timeout; }
  void SetLoadTimeout(std::chrono::milliseconds timeout) { load_timeout_ = timeout; }
  /// The proxy and trust settings; the installed ones (InstalledNetworkSettings) when created.
  void SetNetworkSettings(const TNetworkSettings& settings) { settings_ = settings; }
  /// Where the proxy variables are read (the process's environment when created).
  void SetEnvironment(TEnvironment environment) { environment_ = std::move(environment); }
  /// The TLS context for HTTPS; by default the one shared by every client with the same CA
  /// file (TTlsContext::Shared), so sessions are resumed across loads.
  void SetTlsContext(std::shared_ptr<TTlsContext> context) { tls_context_ = std::move(context); }

  /// GETs `url` and appends the decoded body of the final response to `stream`. Redirects
  /// reset `stream` to its size at the call. The connection is reused from one request to the
  /// next while the last response was keep-alive and host and port stay the same. Throws an
  /// EHttpClientError on every failure (see net/http_errors.h), with `stream` as it was at the
  /// call. Afterwards the connection is closed unless the load ended well with a keep-alive
  /// response.
  void GetToStream(const std::string& url, std::string& stream);

  /// Closes the connection if one is open.
  void Disconnect();

  /// Whether a connection is open.
  bool Connected() const { return connection_ != nullptr; }

 private:
  // Opens a connection for the current address within `limit`: to the server or the proxy,
  // the tunnel through the proxy for HTTPS, and TLS for HTTPS.
  std::unique_ptr<TConnection> Connect(std::chrono::milliseconds limit);
  // Asks the proxy on `socket` for a tunnel to the current address.
  void OpenTunnel(TConnection& socket);
  // Closes a connection that may not be reused, drops unread input, and connects if none is
  // open, within what is left of the load's time. True when an open connection is reused.
  bool OpenConnection();
  // Sends the request head and reads the response head, skipping 100 responses. A reused
  // connection that the peer closed meanwhile is replaced once.
  void Exchange(bool reused);
  // Reads the body that follows the current response head into `out`, decoded when
  // `decode`, or throws it away when `out` is null; then notes whether the connection may be
  // reused.
  void TakeBody(std::string* out, bool decode);
  [[noreturn]] void ThrowProtocolError();

  // Settings, set before a load.
  THttpRequest request_;
  bool handle_redirects_ = false;
  int redirect_maximum_ = kDefaultRedirectMaximum;
  bool allow_cookies_ = true;
  THttpDecompressor* compressor_ = nullptr;
  std::chrono::milliseconds connect_timeout_ = kDefaultConnectTimeout;
  std::chrono::milliseconds read_timeout_ = kDefaultReadTimeout;
  std::chrono::milliseconds load_timeout_ = kDefaultLoadTimeout;
  TNetworkSettings settings_ = InstalledNetworkSettings();
  TEnvironment environment_ = ProcessEnvironment;
  std::shared_ptr<TTlsContext> tls_context_;
  // State of the load.
  std::chrono::steady_clock::time_point load_deadline_;
  THttpAddress address_;
  bool https_ = false;           // the current address is https
  std::optional<TProxy> proxy_;  // the proxy the current address goes through
  THttpResponse response_;
  TCookieStore cookies_;
  std::unique_ptr<TConnection> connection_;
  std::string route_;        // scheme, server and proxy of connection_: reused only for the same
  bool keep_alive_ = false;  // the last response left the connection reusable
};

}  // namespace djkivo::net
