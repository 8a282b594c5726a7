// One TCP connection of the HTTP client, on POSIX sockets: a bounded connect that tries every
// address of the host (IPv6 and IPv4), whole-buffer sends and bounded receives under the
// buffered `HttpInput`.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "net/connection.h"

namespace djkivo::net {

/// One address of a host, as the resolver gives it.
struct TSocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

/// Every address of `host` (an IPv4 or IPv6 literal, or a name) for `port`, in the resolver's
/// order of preference. Blocks for as long as the system resolver's own time-outs and attempts
/// allow. Throws EHostRequired, and ESocketError with the resolver's code and text.
std::vector<TSocketAddress> ResolveHost(const std::string& host, const std::string& port);

/// Waits for `events` on `fd` up to `wait`, restarting after signals with the time left. True
/// when ready (or in error: the next call on the socket says which). Throws ESocketError.
bool WaitForSocket(int fd, short events, std::chrono::milliseconds wait);

/// A connected TCP socket (non-blocking underneath). Owned and used by one load's thread.
class TSocketConnection final : public TConnection {
 public:
  /// A connection attempt that has not answered within this time does not hold up the next
  /// address: that one is tried beside it (RFC 8305's connection attempt delay), so a host
  /// whose first address is dead still loads promptly.
  static constexpr std::chrono::milliseconds kNextAttemptDelay{250};

  /// Resolves `host` and connects to `port` on the first of its addresses that answers.
  /// The whole connect, every address included, gives up after `connect_timeout`
  /// (EConnectTimeout); reads and sends fail after `read_timeout` without progress. Throws
  /// EHostRequired, ESocketError (the last address's failure when every one failed).
  TSocketConnection(const std::string& host, const std::string& port,
                    std::chrono::milliseconds connect_timeout,
                    std::chrono::milliseconds read_timeout);
  /// Connects to the first of `addresses` that answers, as above; `host` and `port` only name
  /// the peer.
  TSocketConnection(const std::vector<TSocketAddress>& addresses, const std::string& host,
                    const std::string& port, std::chrono::milliseconds connect_timeout,
                    std::chrono::milliseconds read_timeout);
  ~TSocketConnection() override;

  void Send(std::string_view bytes) override;

  const std::string& Host() const { return host_; }
  const std::string& Port() const { return port_; }
  /// The socket, for a TLS session over it. Stays owned by this connection.
  int Fd() const { return fd_; }
  /// The address family connected to (AF_INET or AF_INET6).
  int Family() const { return family_; }
  /// The read limit this connection was made with.
  std::chrono::milliseconds ReadTimeout() const { return read_timeout_; }

 protected:
  long Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) override;

 private:
  const std::string host_;
  const std::string port_;
  const std::chrono::milliseconds read_timeout_;
  int fd_ = -1;
  int family_ = 0;
};

}  // namespace djkivo::net
