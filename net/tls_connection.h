// A TLS connection of the HTTP client on OpenSSL: the handshake with the server's name (SNI)
// and the full certificate check, then reads and sends under the same limits as plain TCP.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "net/certificate_check.h"
#include "net/connection.h"
#include "net/socket_connection.h"
#include "net/tls_context.h"

struct ssl_st;

namespace djkivo::net {

/// TLS over a connected socket: to the server itself, or through a proxy's tunnel to it.
/// Owned and used by one load's thread. Never falls back to plain HTTP.
class TTlsConnection final : public TConnection {
 public:
  /// Makes the handshake with `host` (a name or an IP literal; `port` only keys the session
  /// cache) over `socket`, resuming a session `context` remembers for it. Each wait of the
  /// handshake gets no longer than the socket's read limit and ends by `deadline`, as do all
  /// later reads and sends. Throws ECertificateError when the certificate does not pass,
  /// ETlsError (a failed or stalled handshake, no TLS 1.2 or newer), ELoadTimeout,
  /// ESocketError.
  TTlsConnection(std::unique_ptr<TSocketConnection> socket, const std::string& host,
                 const std::string& port, std::shared_ptr<TTlsContext> context,
                 std::chrono::steady_clock::time_point deadline);
  /// Sends close_notify (without waiting for the answer) and closes.
  ~TTlsConnection() override;

  void Send(std::string_view bytes) override;

  /// Whether the handshake resumed a remembered session.
  bool Resumed() const;

 protected:
  /// Receives decrypted bytes. A close with close_notify reads as the end (0); a close without
  /// it throws ETlsTruncated.
  long Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) override;

 private:
  // What a failed SSL call came to, when it was not a system error (thrown as ESocketError).
  struct Failure {
    bool cut_off = false;  // the input ended without close_notify
    int reason = 0;        // OpenSSL's reason code
    std::string text;      // and its words
  };

  void Handshake();
  // Marks the session broken and sorts the failure of an SSL call that gave `error`.
  Failure Classify(int error);
  [[noreturn]] void ThrowHandshakeFailure(int error);
  [[noreturn]] void ThrowSessionFailure(int error);

  const std::unique_ptr<TSocketConnection> socket_;
  const std::string host_;
  const std::shared_ptr<TTlsContext> context_;
  const std::chrono::milliseconds read_timeout_;
  TCertificateFailure failure_;  // filled during the handshake
  ssl_st* ssl_ = nullptr;
  bool broken_ = false;  // a fatal error happened: no close_notify may follow
};

}  // namespace djkivo::net
