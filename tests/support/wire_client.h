// A raw HTTP client on a loopback socket for tests of the demo site's server: it shows exactly
// what the server sent (framing, resets, bodies cut short), which the player's own client
// would hide behind its error handling.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace djkivo::test {

/// A response as read off the wire.
struct WireResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // de-chunked when chunked, as sent otherwise
  bool complete = false;                       // the framing said the body ended (not a cut-off)
};

/// One client connection to 127.0.0.1. Throws std::runtime_error when it cannot connect.
class TestConnection {
 public:
  explicit TestConnection(std::uint16_t port);
  ~TestConnection();
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;

  /// Sends all of `data`; throws std::runtime_error when it cannot.
  void Send(const std::string& data);
  /// Sends a GET request head for `target` with a Host header and `extra_headers` (each
  /// ended by CR LF).
  void SendGet(const std::string& target, const std::string& extra_headers = "");

  /// Reads more bytes into the buffer, waiting up to `timeout`. False on timeout, end of stream
  /// or error (`reset()` tells a reset apart).
  bool Fill(std::chrono::milliseconds timeout);

  /// Reads one response; nullopt when no status line and head arrived within `timeout`.
  /// A body cut short is returned with `complete` false.
  std::optional<WireResponse> Read(std::chrono::milliseconds timeout = std::chrono::seconds(20),
                                   bool head_request = false);

  /// True when the server closed the connection within `timeout` (after any unread bytes).
  bool ClosedWithin(std::chrono::milliseconds timeout);

  /// What was received and not yet taken by `Read`.
  const std::string& buffered() const { return buffer_; }
  /// True once the server reset the connection.
  bool reset() const { return reset_; }

 private:
  const std::uint16_t port_;
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
  bool reset_ = false;
};

/// One GET on a fresh connection. Throws std::runtime_error when no response came.
WireResponse Get(std::uint16_t port, const std::string& target,
                 const std::string& extra_headers = "");

}  // namespace djkivo::test
