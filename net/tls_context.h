// The TLS client settings every connection of the program shares: the trust (the system store
// through OpenSSL's default paths, plus an extra CA file), TLS 1.2 or newer, and the sessions
// remembered per server so that the next connection to it resumes instead of a full handshake.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;

namespace djkivo::net {

/// One OpenSSL client context with its session cache. Safe to use from any number of threads
/// at once (page loads run on short-lived load threads, the version check on the worker
/// thread): OpenSSL's context is shared read-only, and the session cache is guarded.
class TTlsContext {
 public:
  /// Servers whose sessions are remembered; beyond this the oldest is forgotten. A player
  /// talks to a handful of hosts.
  static constexpr std::size_t kMaxSessions = 64;

  /// The context for `ca_file` (empty: the system store alone), made on first use and shared
  /// by every later connection that names the same file, so its sessions are reused across
  /// loads. The system store is read once, when the context is made: `SSL_CERT_FILE` and
  /// `SSL_CERT_DIR` apply as they are then. Throws ETlsError when `ca_file` cannot be read.
  static std::shared_ptr<TTlsContext> Shared(const std::string& ca_file);

  /// A context of its own, with an empty session cache (tests and benchmarks). Throws
  /// ETlsError when `ca_file` cannot be read.
  explicit TTlsContext(const std::string& ca_file);
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  /// A new session for a connection to `server` ("host:port"), set to resume the server's
  /// remembered session if there is one; new sessions the server hands out replace it. The
  /// caller owns the result (SSL_free); nullptr when OpenSSL is out of memory. Any thread.
  ssl_st* NewSession(const std::string& server);

  /// Forgets every remembered session, so the next connections make full handshakes.
  void ForgetSessions();
  /// Servers with a remembered session.
  std::size_t RememberedSessions() const;

 private:
  static int OnNewSession(ssl_st* ssl, ssl_session_st* session);
  void Remember(const std::string& server, ssl_session_st* session);

  struct Remembered {
    ssl_session_st* session = nullptr;  // holds one reference
    unsigned long age = 0;              // when it was remembered: the lowest is the oldest
  };

  ssl_ctx_st* context_ = nullptr;  // immutable after the constructor
  mutable std::mutex mutex_;
  std::map<std::string, Remembered> sessions_;  // guarded by mutex_, by server
  unsigned long remembered_ = 0;                // guarded by mutex_
};

}  // namespace djkivo::net
