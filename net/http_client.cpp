// The load: URL merge, connection reuse, request and response, redirects, protocol errors.
// Covered by tests/net/http_client_test.cpp (scripted peer) and tests/net/http_nginx_test.cpp.
#include "net/http_client.h"

#include <algorithm>

#include "net/http_framing.h"
#include "net/http_text.h"
#include "net/socket_connection.h"

namespace djkivo::net {

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

void THttpClient::Disconnect() {
  connection_.reset();
  keep_alive_ = false;
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
    connection_ = std::make_unique<TSocketConnection>(
        address_.host, address_.port, std::min(connect_timeout_, left), read_timeout_);
  } catch (const EConnectTimeout&) {
    if (left < connect_timeout_)
      throw ELoadTimeout();
    throw;
  }
  connection_->SetDeadline(load_deadline_);
  return false;
}

void THttpClient::Exchange(bool reused) {
  const std::string cookies =
      allow_cookies_ ? cookies_.CookieHeader(address_, TCookieStore::Clock::now()) : std::string();
  const std::string head =
      BuildRequestHead(request_, address_.RequestTarget(), address_.HostValue(), cookies);
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
      // Only plain HTTP is spoken here: sending it to a TLS port would only get garbage back.
      if (!IEquals(address_.protocol, "http"))
        throw EUnknownProtocol();
      if (connection_ &&
          (connection_->Host() != address_.host || connection_->Port() != address_.port))
        Disconnect();
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
        // success would look like a site without songs.
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
