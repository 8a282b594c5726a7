// A small HTTP/1.1 server on the loopback interface: the transport of the demo site.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "demo/faults.h"
#include "demo/tls_server.h"

namespace djkivo::demo {

/// One parsed request. Header names keep the case they arrived in.
struct HttpRequest {
  std::string method;
  std::string target;   // path and query, as received
  std::string version;  // "HTTP/1.1" or "HTTP/1.0"
  std::string head;     // the raw request head, request line to the blank line
  std::vector<std::pair<std::string, std::string>> headers;

  /// The value of the first header called `name` (any letter case), or empty.
  std::string Header(std::string_view name) const;
};

/// What a handler wants sent. The server adds the framing headers (Content-Length or
/// Transfer-Encoding, Connection, Content-Encoding, Content-Range, Accept-Ranges).
struct HttpResponse {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool range_capable = false;  // answer "Range: bytes=..." with 206 or 416
  Faults faults;               // gzip, chunked, slow, stall, truncate and reset are applied here
};

/// The server: a listening thread plus one thread per connection, with persistent connections
/// (HTTP/1.1 keep-alive, HTTP/1.0 "Connection: keep-alive") and pipelined requests.
///
/// Every wait of every server thread (idle connection, slow client, stall switch, a handler
/// that calls `WaitForStop`) ends within a bound and at once on `Stop`, so `Stop` returns
/// promptly even with stalled clients connected.
///
/// Shutdown order: `Stop` raises the stopping flag and makes the wake pipe readable, which every
/// poll of every server thread watches; it joins the listening thread (no new connections),
/// then joins each connection thread, which closes its own socket on the way out.
class HttpServer {
 public:
  /// Called on a connection thread, possibly on several at once. May throw: the client then
  /// gets "500 Internal Server Error" with the exception's message.
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  explicit HttpServer(Handler handler);
  ~HttpServer();  // Stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Speaks TLS with `context` on every connection (HTTPS). Before Start.
  void EnableTls(std::shared_ptr<const TlsServerContext> context) { tls_ = std::move(context); }

  /// Listens on 127.0.0.1:`port` (0: a free port) and starts serving. Once per object.
  /// Throws std::runtime_error when the port cannot be bound.
  void Start(std::uint16_t port);

  /// Ends every connection and thread and returns when they have ended. Any thread but a
  /// connection thread; idempotent.
  void Stop();

  /// The port listened on; valid after Start.
  std::uint16_t Port() const { return port_; }

  /// True once Stop has begun; long handler work polls it to give up early.
  bool Stopping() const { return stopping_.load(std::memory_order_acquire); }

  /// Sleeps for `duration` or until Stop begins; true when Stop began.
  bool WaitForStop(std::chrono::milliseconds duration) const;

  /// The network goes away for `duration` from now: every new connection is refused (the
  /// listener stops listening), open ones are left alone. A longer refusal already under way
  /// is kept. Any thread.
  void RefuseConnections(std::chrono::milliseconds duration);
  /// When the refusal under way ends (the past when there is none).
  std::chrono::steady_clock::time_point RefusedUntil() const;

 private:
  struct Connection {
    int fd = -1;
    std::unique_ptr<TlsServerSession> tls;  // with EnableTls; made on the connection's thread
    std::thread thread;
    std::atomic<bool> done{false};
  };
  enum class Wait { kReady, kTimeout, kStopped, kError };

  void AcceptLoop();
  // Waits out a refusal, then listens again; false when Stop began.
  bool ListenAfterRefusal();
  void Serve(Connection* connection);
  // Makes the TLS handshake of a new connection; false when it failed or stalled.
  bool Handshake(Connection& connection);
  Wait WaitFd(int fd, short events, std::chrono::milliseconds timeout) const;
  // Reads what has come, waiting up to `timeout` for it: the count, 0 when the client closed
  // or the connection failed, -1 when nothing came in time or Stop began.
  long Receive(Connection& connection, char* buffer, std::size_t size,
               std::chrono::milliseconds timeout);
  bool SendAll(Connection& connection, std::string_view data);
  // Sends a response; false when the connection must close afterwards, with `*reset` set when
  // it is to be closed with a reset.
  bool Respond(Connection& connection, const HttpRequest& request, HttpResponse response,
               bool keep_alive, bool* reset);
  void ReapConnections(bool all);

  const Handler handler_;
  std::shared_ptr<const TlsServerContext> tls_;  // set before Start; null: plain HTTP
  // Set by Start.
  int listen_fd_ = -1;
  int wake_read_ = -1;  // readable once Stop began: every poll of the server watches it
  int wake_write_ = -1;
  std::uint16_t port_ = 0;
  std::thread accept_thread_;
  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;  // serialises Stop calls
  bool stopped_ = false;   // guarded by stop_mutex_
  // Guards the refusal and the listener's replacement (RefuseConnections shuts the listener
  // down from a connection thread; the accept thread swaps it for a new one afterwards).
  mutable std::mutex refuse_mutex_;
  std::chrono::steady_clock::time_point refused_until_{};  // guarded by refuse_mutex_
  bool refusing_ = false;                                  // guarded by refuse_mutex_
  std::mutex connections_mutex_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by connections_mutex_
};

/// The body compressed as a gzip member (zlib, default level).
std::string GzipCompress(std::string_view data);

}  // namespace djkivo::demo
