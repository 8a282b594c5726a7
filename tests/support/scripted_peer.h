// A scripted HTTP peer on loopback for fault tests: each accepted connection plays a script
// (read a request head and record its exact bytes, send bytes, pause, close, reset, stall).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "demo/tls_server.h"

namespace djkivo::test {

/// One step of a connection's script.
struct PeerStep {
  enum class Kind {
    kReadRequest,  // read up to and including the empty line of a request head; record it
    kSend,         // send `bytes`
    kPause,        // wait `pause` (ends early when the peer stops)
    kDrain,        // read and drop raw input for `pause`, so that a close after it is a clean FIN
    kClose,        // close the connection (FIN; under TLS after close_notify) and end the script
    kCut,          // close the connection (FIN) without close_notify, and end the script
    kReset,        // abort the connection (RST) and end the script
    kStall,        // read and drop input until the client closes or the peer stops
  };
  Kind kind;
  std::string bytes;
  std::chrono::milliseconds pause{0};

  static PeerStep ReadRequest() { return {Kind::kReadRequest, {}, {}}; }
  static PeerStep Send(std::string bytes) { return {Kind::kSend, std::move(bytes), {}}; }
  static PeerStep Pause(std::chrono::milliseconds pause) { return {Kind::kPause, {}, pause}; }
  static PeerStep Drain(std::chrono::milliseconds pause) { return {Kind::kDrain, {}, pause}; }
  static PeerStep Close() { return {Kind::kClose, {}, {}}; }
  static PeerStep Cut() { return {Kind::kCut, {}, {}}; }
  static PeerStep Reset() { return {Kind::kReset, {}, {}}; }
  static PeerStep Stall() { return {Kind::kStall, {}, {}}; }
};

/// A connection's script. When it ends without kClose or kReset the connection stays open
/// (like a keep-alive server) until the client closes it or the peer stops.
using PeerScript = std::vector<PeerStep>;

/// A "200 OK" response carrying `body` with its Content-Length, after which come `headers`
/// (each ended by CR LF).
std::string OkResponse(std::string_view body, std::string_view headers = {});

/// How a scripted peer listens.
struct PeerOptions {
  bool ipv6 = false;  // on [::1] instead of 127.0.0.1
  /// With a context, every connection makes a TLS handshake first and the script runs inside
  /// the session (a failed handshake ends the connection). Must outlive the peer.
  const demo::TlsServerContext* tls = nullptr;
};

/// Listens on a free loopback port; the n-th accepted connection plays the n-th script, and
/// connections beyond the scripts are closed at once. Each connection runs on its own thread.
/// The destructor stops everything and joins; every wait inside is bounded by it.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<PeerScript> scripts, PeerOptions options = {});
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  /// One connection that reads a request, sends `response` and closes.
  static PeerScript Answer(std::string response);
  /// One connection that answers each request with the next of `responses`, keeping the
  /// connection open between them.
  static PeerScript AnswerEach(const std::vector<std::string>& responses);

  int Port() const { return port_; }
  /// "http://127.0.0.1:PORT" followed by `path` ("https://" with TLS, "[::1]" on IPv6).
  std::string Url(const std::string& path) const;

  /// The request heads read so far, over all connections in the order they were read.
  std::vector<std::string> Requests() const;
  /// Connections accepted so far.
  int Accepted() const;
  /// Waits up to `timeout` until every scripted connection has ended its script (a stall
  /// ends when the client closes). True when they have.
  bool WaitUntilDone(std::chrono::milliseconds timeout) const;

 private:
  void AcceptLoop();
  void Play(int fd, const PeerScript& script);
  // Waits for `events` on `fd` up to `wait` or the stop signal; false when stopping or when
  // nothing happened within `wait`.
  bool WaitFd(int fd, short events,
              std::chrono::milliseconds wait = std::chrono::milliseconds(60000)) const;
  // Reads what has come into `input` (through `tls` when set); false when the client closed,
  // failed or the peer stops.
  bool Receive(int fd, demo::TlsServerSession* tls, std::string& input) const;
  bool SendAll(int fd, demo::TlsServerSession* tls, const std::string& bytes) const;

  const std::vector<PeerScript> scripts_;
  const PeerOptions options_;
  int listen_fd_ = -1;
  int port_ = 0;
  int stop_pipe_[2] = {-1, -1};  // readable once the peer stops: wakes every poll
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // acceptor thread only, then the destructor
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> requests_;  // guarded by mutex_
  int accepted_ = 0;                   // guarded by mutex_
  int finished_ = 0;                   // guarded by mutex_
  bool stopping_ = false;              // guarded by mutex_
};

}  // namespace djkivo::test
