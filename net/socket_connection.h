// One TCP connection of the HTTP client, on POSIX sockets: a bounded connect, whole-buffer
// sends and bounded receives under the buffered `HttpInput`.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "net/http_input.h"

namespace djkivo::net {

/// A connected TCP/IPv4 socket. Owned and used by one load's thread; closed on destruction.
class TSocketConnection final : public HttpInput {
 public:
  /// Resolves `host` (an IPv4 literal or a name) and connects to `port`. The connect gives up
  /// after `connect_timeout` (EConnectTimeout); reads and sends fail after `read_timeout`
  /// without progress. Throws EHostRequired, ESocketError.
  TSocketConnection(const std::string& host, const std::string& port,
                    std::chrono::milliseconds connect_timeout,
                    std::chrono::milliseconds read_timeout);
  ~TSocketConnection() override;

  /// Sends all of `bytes`. Throws ESocketError (a stalled send: ETIMEDOUT).
  void Send(std::string_view bytes);

  const std::string& Host() const { return host_; }
  const std::string& Port() const { return port_; }

 protected:
  long Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) override;

 private:
  const std::string host_;
  const std::string port_;
  const std::chrono::milliseconds send_timeout_;
  int fd_ = -1;
};

}  // namespace djkivo::net
