// The load: URL merge, the route (direct, proxy, tunnel; TCP or TLS), connection reuse, request
// and response, redirects, protocol errors. Covered by tests/net/http_client_test.cpp (scripted
// peer), tests/net/http_nginx_test.cpp, tests/net/https_client_test.cpp and
// tests/net/http_proxy_test.cpp.
#include "net/http_client.h"

#include <algorithm>

#include "net/http_framing.h"
#include "net/http_text.h"
#include "net/socket_connection.h"
#include "net/tls_connection.h"
#include "net/tls_context.h"

namespace djkivo::net {

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

void THttpClient::Disconnect() {
  connection_.reset();
  keep_alive_ = false;
}

void THttpClient::OpenTunnel(TConnection& socket) {
  const std::string target = Authority(address_.host, address_.port);
  std::string head = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (const std::string authorization = proxy_->Authorization(); !authorization.empty())
    head += "Proxy-Authorization: " + authorization + "\r\n";
  head += "User-Agent: " + ToAsciiLine(request_.user_agent) + "\r\n\r\n";
  THttpResponse answer;
  try {
    socket.Send(head);
    ReadResponseHead(socket, answer);
  } catch (const EConnClosedGracefully&) {
    throw EProxyError("Proxy " + proxy_->Name() + " closed the connection instead of opening the " +
                      "tunnel to " + target + ".");
  } catch (const ESocketError& error) {
    throw EProxyError("Proxy " + proxy_->Name() + " broke off the request for a tunnel to " +
                      target + ": " + error.Text());
  }
  if (answer.code < 200 || answer.code >= 300)
    throw EProxyError("Proxy " + proxy_->Name() + " refused the tunnel to " + target + ": " +
                      answer.status_line);
  // The server speaks first only after the handshake starts: bytes now are not the server's.
  if (socket.Buffered())
    throw EProxyError("Proxy " + proxy_->Name() + " sent data into the tunnel to " + target +
                      " before the TLS handshake.");
}

std::unique_ptr<TConnection> THttpClient::Connect(std::chrono::milliseconds limit) {
  std::unique_ptr<TSocketConnection> socket;
  if (proxy_) {
    try {
      socket =
          std::make_unique<TSocketConnection>(proxy_->host, proxy_->port, limit, read_timeout_);
    } catch (const ESocketError& error) {
      throw EProxyError("Proxy " + proxy_->Name() + " cannot be reached: " + error.Text());
    }
    socket->SetDeadline(load_deadline_);
    if (https_)
      OpenTunnel(*socket);
  } else {
    socket =
        std::make_unique<TSocketConnection>(address_.host, address_.port, limit, read_timeout_);
  }
  if (!https_)
    return socket;
  if (!tls_context_)
    tls_context_ = TTlsContext::Shared(settings_.ca_file);
  return std::make_unique<TTlsConnection>(std::move(socket), address_.host, address_.port,
                                          tls_context_, load_deadline_);
}

bool THttpClient::OpenConnection() {
  if (connection_ && !keep_alive_)
    Disconnect();
  if (connection_) {
    connection_->DiscardBuffered();
    connection_->SetDeadline(load_deadline_);
    return true;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(load_deadline_ -
                                                                 std::chrono::steady_clock::now());
  if (left <= std::chrono::milliseconds(0))
    throw ELoadTimeout();
  try {
    connection_ = Connect(std::min(connect_timeout_, left));
  } catch (const EConnectTimeout&) {
    if (left < connect_timeout_)
      throw ELoadTimeout();
    if (proxy_)
      throw EProxyError("Proxy " + proxy_->Name() + " cannot be reached: Connect timed out.");
    throw;
  }
  connection_->SetDeadline(load_deadline_);
  return false;
}

void THttpClient::Exchange(bool reused) {
  const std::string cookies =
      allow_cookies_ ? cookies_.CookieHeader(address_, TCookieStore::Clock::now()) : std::string();
  // A proxy gets plain HTTP requests in absolute form, with its credentials; inside a tunnel
  // the request is the server's alone.
  const bool through_proxy = proxy_ && !https_;
  const std::string target = through_proxy
                                 ? "http://" + address_.HostValue() + address_.RequestTarget()
                                 : address_.RequestTarget();
  const std::string head =
      BuildRequestHead(request_, target, address_.HostValue(), cookies,
                       through_proxy ? proxy_->Authorization() : std::string());
  for (;;) {
    try {
      connection_->Send(head);
      do {
        ReadResponseHead(*connection_, response_);
        if (allow_cookies_)
          cookies_.AddServerCookies(response_.headers.Values("Set-Cookie"), address_,
                                    TCookieStore::Clock::now());
      } while (response_.code == 100);
      return;
    } catch (const EConnClosedGracefully&) {
      if (!reused)
        throw;
    } catch (const ESocketError&) {
      if (!reused)
        throw;
    }
    // A kept-alive connection may have been closed by the peer while idle: a GET is safe to
    // send again, once, on a new connection.
    Disconnect();
    reused = OpenConnection();
  }
}

void THttpClient::TakeBody(std::string* out, bool decode) {
  const TBodyFraming framing = net::ReadResponseBody(*connection_, request_.method, response_,
                                                     decode ? compressor_ : nullptr, out);
  keep_alive_ =
      framing != TBodyFraming::kAbandoned && response_.KeepAlive(connection_->PeerClosed());
}

void THttpClient::ThrowProtocolError() {
  std::string body;
  try {
    TakeBody(&body, true);
  } catch (const EHttpClientError&) {
    // The status is what failed the load; an error page that cannot be read whole is still
    // reported by its status line, with what came of it.
    keep_alive_ = false;
  }
  if (proxy_ && !https_) {
    // Only the proxy asks for proxy credentials; any other answer may be the server's, passed
    // on, or the proxy's own: it is named with the proxy either way.
    if (response_.code == 407)
      throw EProxyError(
          "Proxy " + proxy_->Name() +
          (proxy_->user.empty() ? " asks for credentials: " : " refused the credentials: ") +
          response_.status_line);
    throw EHttpProtocolError(response_.status_line + " (through proxy " + proxy_->Name() + ")",
                             response_.code, std::move(body));
  }
  throw EHttpProtocolError(response_.status_line, response_.code, std::move(body));
}

void THttpClient::GetToStream(const std::string& url, std::string& stream) {
  const std::size_t start = stream.size();
  load_deadline_ = std::chrono::steady_clock::now() + load_timeout_;
  request_.url = url;
  request_.method = "GET";
  std::string next_url = url;
  int redirects = 0;
  try {
    for (;;) {
      address_.Merge(TUri::Parse(next_url));
      https_ = IEquals(address_.protocol, "https");
      if (!https_ && !IEquals(address_.protocol, "http"))
        throw EUnknownProtocol();
      proxy_ = ProxyFor(settings_, address_.protocol, address_.host, address_.port, environment_);
      const std::string route = AsciiLowered(address_.protocol) + "://" +
                                Authority(address_.host, address_.port) +
                                (proxy_ ? " via " + proxy_->Name() : "");
      if (connection_ && route != route_)
        Disconnect();
      route_ = route;
      CompleteAcceptEncoding(request_.accept_encoding, compressor_ != nullptr);
      Exchange(OpenConnection());
      const int code = response_.code;
      if (code >= 300 && code < 400 && code != 304) {
        if (response_.location.empty())
          ThrowProtocolError();
        ++redirects;
        if (!handle_redirects_)
          ThrowProtocolError();
        TakeBody(nullptr, false);
        // The redirect that reaches the maximum fails the load: an empty page reported as a
        // success would look like a site without songs. The count runs across schemes.
        if (redirects >= redirect_maximum_)
          throw ETooManyRedirects();
        stream.resize(start);
        next_url = response_.location;
        continue;
      }
      if (code >= 200 && code < 300) {
        if (code == 204)
          keep_alive_ = response_.KeepAlive(connection_->PeerClosed());
        else
          TakeBody(&stream, true);
        break;
      }
      ThrowProtocolError();
    }
  } catch (...) {
    // A failed load leaves no part of a body behind, and after a failure the connection's
    // framing is unknown: it is never reused.
    stream.resize(start);
    Disconnect();
    throw;
  }
  if (!keep_alive_)
    Disconnect();
}

}  // namespace djkivo::net
