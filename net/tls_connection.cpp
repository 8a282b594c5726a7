// TLS connections. Covered by tests/net/https_client_test.cpp (nginx with TLS, scripted TLS
// peers, misbehaving peers, certificate cases) and tests/net/http_proxy_test.cpp (tunnels).
#include "net/tls_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <cerrno>
#include <cstring>

#include "net/http_errors.h"
#include "net/openssl_reason.h"
#include "net/tls_socket_bio.h"

namespace djkivo::net {

TTlsConnection::TTlsConnection(std::unique_ptr<TSocketConnection> socket, const std::string& host,
                               const std::string& port, std::shared_ptr<TTlsContext> context,
                               std::chrono::steady_clock::time_point deadline)
    : TConnection(socket->ReadTimeout()),
      socket_(std::move(socket)),
      host_(host),
      context_(std::move(context)),
      read_timeout_(socket_->ReadTimeout()) {
  SetDeadline(deadline);
  ssl_ = context_->NewSession(host + ":" + port);
  BIO* bio = ssl_ ? NewSocketBio(socket_->Fd()) : nullptr;
  if (!bio) {
    SSL_free(ssl_);
    throw ETlsError("TLS cannot be set up: out of memory.");
  }
  SSL_set_bio(ssl_, bio, bio);
  if (!CheckCertificateFor(ssl_, host_, &failure_)) {
    SSL_free(ssl_);
    throw ETlsError("TLS cannot check the certificate of " + host_ + ".");
  }
  try {
    Handshake();
  } catch (...) {
    SSL_free(ssl_);
    throw;
  }
}

TTlsConnection::~TTlsConnection() {
  if (!broken_) {
    ERR_clear_error();
    SSL_shutdown(ssl_);  // sends close_notify if the socket takes it; never waits
  }
  ERR_clear_error();
  SSL_free(ssl_);
}

bool TTlsConnection::Resumed() const { return SSL_session_reused(ssl_) == 1; }

void TTlsConnection::Handshake() {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(ssl_);
    if (result == 1)
      return;
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      ThrowHandshakeFailure(error);
    }
    const std::chrono::milliseconds allowed = WaitWithinDeadline(read_timeout_);
    if (!WaitForSocket(socket_->Fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, allowed)) {
      if (allowed < read_timeout_)
        throw ELoadTimeout();
      throw ETlsError("TLS handshake with " + host_ + " timed out.");
    }
  }
}

TTlsConnection::Failure TTlsConnection::Classify(int error) {
  broken_ = true;
  if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0)
    throw ESocketError::FromErrno(errno);
  Failure failure;
  failure.text = TakeOpenSslReason(&failure.reason);
  failure.cut_off =
      error == SSL_ERROR_SYSCALL || failure.reason == SSL_R_UNEXPECTED_EOF_WHILE_READING;
  return failure;
}

void TTlsConnection::ThrowHandshakeFailure(int error) {
  if (failure_.verify_error != 0)
    throw CertificateError(failure_, host_);
  const Failure failure = Classify(error);
  const std::string failed = "TLS handshake with " + host_ + " failed: ";
  if (failure.cut_off)
    throw ETlsError(failed + "the server closed the connection.");
  // Plain HTTP, or anything else, where a TLS record was expected.
  if (failure.reason == SSL_R_WRONG_VERSION_NUMBER ||
      failure.reason == SSL_R_PACKET_LENGTH_TOO_LONG)
    throw ETlsError(failed + failure.text + " (the server does not speak TLS on this port).");
  if (failure.reason == SSL_R_UNSUPPORTED_PROTOCOL ||
      failure.reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION)
    throw ETlsError(failed + failure.text + " (the server offers no TLS version from 1.2 on).");
  throw ETlsError(failed + failure.text + ".");
}

void TTlsConnection::ThrowSessionFailure(int error) {
  const Failure failure = Classify(error);
  if (failure.cut_off)
    throw ETlsTruncated();
  throw ETlsError("TLS error on the connection to " + host_ + ": " + failure.text + ".");
}

void TTlsConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written);
    if (result == 1) {
      bytes.remove_prefix(written);
      continue;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      ThrowSessionFailure(error);
    const std::chrono::milliseconds allowed = WaitWithinDeadline(read_timeout_);
    if (!WaitForSocket(socket_->Fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, allowed)) {
      if (allowed < read_timeout_)
        throw ELoadTimeout();
      throw ESocketError::FromErrno(ETIMEDOUT);
    }
  }
}

long TTlsConnection::Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    std::size_t received = 0;
    const int result = SSL_read_ex(ssl_, buffer, max, &received);
    if (result == 1)
      return static_cast<long>(received);
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_ZERO_RETURN)
      return 0;
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      ThrowSessionFailure(error);
    // Records that carry no data (a session ticket, a key update) also end here: wait again,
    // within what is left of `wait`.
    const auto left = std::max(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(0));
    if (!WaitForSocket(socket_->Fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left))
      return kNothingYet;
  }
}

}  // namespace djkivo::net
