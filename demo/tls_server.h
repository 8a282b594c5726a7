// The server side of TLS, for the demo site's `--tls` and the tests' TLS peers: a certificate
// chain with its key, and one session per connection over a non-blocking socket that the
// caller polls.
#pragma once

#include <cstddef>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace djkivo::demo {

/// A server certificate chain and key, TLS 1.2 and 1.3. Immutable once made: sessions on any
/// number of threads may share it.
class TlsServerContext {
 public:
  /// Reads the PEM files: `certificate_file` holds the server's certificate, then any chain
  /// certificates sent with it. Throws std::runtime_error naming the file and OpenSSL's reason.
  TlsServerContext(const std::string& certificate_file, const std::string& key_file);
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  ssl_ctx_st* Get() const { return context_; }

 private:
  ssl_ctx_st* context_ = nullptr;
};

/// One server-side TLS session over a non-blocking socket it does not own. Each call does
/// what it can at once and says what it would wait for; the caller polls and calls again.
/// One thread at a time.
class TlsServerSession {
 public:
  /// What a call must wait for before it can go on.
  enum class Want { kNothing, kRead, kWrite };

  TlsServerSession(const TlsServerContext& context, int fd);
  ~TlsServerSession();
  TlsServerSession(const TlsServerSession&) = delete;
  TlsServerSession& operator=(const TlsServerSession&) = delete;

  /// Goes on with the handshake: kNothing once it is complete. Throws std::runtime_error when
  /// it failed (the client gave up, or does not accept the certificate).
  Want Handshake();
  /// Like recv(2): the bytes read (> 0); 0 when the client closed (with or without
  /// close_notify) or the session failed; -1 with `want` set when it must wait.
  long Read(char* buffer, std::size_t size, Want& want);
  /// Like send(2): the bytes taken (> 0); 0 when the session failed; -1 with `want` set.
  long Write(const char* data, std::size_t size, Want& want);
  /// Sends close_notify, without waiting for the client's; not after a failure.
  void CloseNotify();

 private:
  // The answer of an SSL call that returned `result` <= 0: -1 with `want`, or 0.
  long Interpret(int result, Want& want);

  ssl_st* ssl_ = nullptr;
  bool failed_ = false;
};

}  // namespace djkivo::demo
