// POSIX socket transport. Covered by tests/net/http_client_test.cpp (failures group) against
// a scripted loopback peer.
#include "net/socket_connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <climits>

#include "net/http_errors.h"

namespace djkivo::net {

namespace {

[[noreturn]] void ThrowErrno(int error) { throw ESocketError(error, std::strerror(error)); }

int PollMs(std::chrono::milliseconds wait) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX));
}

// Waits for `events` on `fd` up to `wait`, restarting after signals with the time left.
// True when ready.
bool WaitFor(int fd, short events, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    pollfd entry{fd, events, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ready = ::poll(&entry, 1, PollMs(left));
    if (ready > 0)
      return true;
    if (ready == 0)
      return false;
    if (errno != EINTR)
      ThrowErrno(errno);
  }
}

}  // namespace

TSocketConnection::TSocketConnection(const std::string& host, const std::string& port,
                                     std::chrono::milliseconds connect_timeout,
                                     std::chrono::milliseconds read_timeout)
    : HttpInput(read_timeout), host_(host), port_(port), send_timeout_(read_timeout) {
  if (host.empty())
    throw EHostRequired();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // Name resolution is bounded by the system resolver's own time-outs and attempts.
  if (const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); status != 0) {
    if (status == EAI_SYSTEM)
      ThrowErrno(errno);
    throw ESocketError(status, ::gai_strerror(status));
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    ThrowErrno(errno);
  try {
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      if (errno != EINPROGRESS)
        ThrowErrno(errno);
      if (!WaitFor(fd_, POLLOUT, connect_timeout))
        throw EConnectTimeout();
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        ThrowErrno(errno);
      if (error != 0)
        ThrowErrno(error);
    }
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

TSocketConnection::~TSocketConnection() {
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
}

void TSocketConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const std::chrono::milliseconds allowed = WaitWithinDeadline(send_timeout_);
      if (!WaitFor(fd_, POLLOUT, allowed)) {
        if (allowed < send_timeout_)
          throw ELoadTimeout();
        ThrowErrno(ETIMEDOUT);
      }
    } else if (errno != EINTR) {
      ThrowErrno(errno);
    }
  }
}

long TSocketConnection::Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!WaitFor(fd_, POLLIN, std::max(left, std::chrono::milliseconds(0))))
      return kNothingYet;
    const ssize_t received = ::recv(fd_, buffer, max, 0);
    if (received >= 0)
      return static_cast<long>(received);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      ThrowErrno(errno);
  }
}

}  // namespace djkivo::net
