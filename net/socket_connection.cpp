// POSIX socket transport. Covered by tests/net/http_client_test.cpp (failures group) and
// tests/net/socket_connection_test.cpp (every address, IPv6) against scripted loopback peers.
#include "net/socket_connection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <climits>

#include "net/http_errors.h"

namespace djkivo::net {

namespace {

using Clock = std::chrono::steady_clock;

int PollMs(std::chrono::milliseconds wait) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX));
}

std::chrono::milliseconds Until(Clock::time_point deadline) {
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                  std::chrono::milliseconds(0));
}

// The connect attempts in flight, one socket per address tried. Closes what it still holds.
class Attempts {
 public:
  ~Attempts() {
    for (const pollfd& entry : entries_)
      ::close(entry.fd);
  }

  // Starts connecting to `address`: the socket once connected at once, -1 when it is in
  // flight or failed at once (then `error` says why).
  int Start(const TSocketAddress& address, int& error) {
    const int fd =
        ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = errno;
      return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0)
      return fd;
    if (errno != EINPROGRESS) {
      error = errno;
      ::close(fd);
      return -1;
    }
    entries_.push_back({fd, POLLOUT, 0});
    families_.push_back(address.storage.ss_family);
    return -1;
  }

  bool Empty() const { return entries_.empty(); }

  // Waits up to `wait` for an attempt to end. Returns the first connected socket (it leaves
  // the set) and its family, or -1; every failed attempt leaves the set, its error in `error`.
  int Wait(std::chrono::milliseconds wait, int& error, int& family) {
    const int ready = ::poll(entries_.data(), entries_.size(), PollMs(wait));
    if (ready < 0 && errno != EINTR)
      throw ESocketError::FromErrno(errno);
    for (std::size_t i = 0; ready > 0 && i < entries_.size();) {
      if (entries_[i].revents == 0) {
        ++i;
        continue;
      }
      const int fd = entries_[i].fd;
      int status = 0;
      socklen_t length = sizeof status;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0)
        status = errno;
      family = families_[i];
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
      families_.erase(families_.begin() + static_cast<std::ptrdiff_t>(i));
      if (status == 0)
        return fd;
      error = status;
      ::close(fd);
    }
    return -1;
  }

 private:
  std::vector<pollfd> entries_;
  std::vector<int> families_;
};

// Connects to the first of `addresses` to answer, within `timeout` for all of them. Each
// attempt that has not answered after kNextAttemptDelay is joined by the next address's, and
// one that fails makes way for the next at once. Returns the socket; `family` is its family.
int ConnectToFirst(const std::vector<TSocketAddress>& addresses, std::chrono::milliseconds timeout,
                   int& family) {
  const Clock::time_point deadline = Clock::now() + timeout;
  Attempts attempts;
  std::size_t next = 0;
  int error = ENETUNREACH;  // the last failure, reported when every address failed
  Clock::time_point next_start = Clock::now();
  for (;;) {
    if (next < addresses.size() && (attempts.Empty() || Clock::now() >= next_start)) {
      family = addresses[next].storage.ss_family;
      if (const int fd = attempts.Start(addresses[next++], error); fd >= 0)
        return fd;
      next_start = Clock::now() + TSocketConnection::kNextAttemptDelay;
      continue;
    }
    if (attempts.Empty())
      throw ESocketError::FromErrno(error);
    if (Clock::now() >= deadline)
      throw EConnectTimeout();
    const Clock::time_point wake =
        next < addresses.size() ? std::min(deadline, next_start) : deadline;
    if (const int fd = attempts.Wait(Until(wake), error, family); fd >= 0)
      return fd;
    if (attempts.Empty())
      next_start = Clock::now();
  }
}

}  // namespace

std::vector<TSocketAddress> ResolveHost(const std::string& host, const std::string& port) {
  if (host.empty())
    throw EHostRequired();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // Name resolution is bounded by the system resolver's own time-outs and attempts.
  if (const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); status != 0) {
    if (status == EAI_SYSTEM)
      throw ESocketError::FromErrno(errno);
    throw ESocketError(status, ::gai_strerror(status));
  }
  std::vector<TSocketAddress> addresses;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    TSocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  return addresses;
}

bool WaitForSocket(int fd, short events, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, PollMs(Until(deadline)));
    if (ready > 0)
      return true;
    if (ready == 0)
      return false;
    if (errno != EINTR)
      throw ESocketError::FromErrno(errno);
  }
}

TSocketConnection::TSocketConnection(const std::string& host, const std::string& port,
                                     std::chrono::milliseconds connect_timeout,
                                     std::chrono::milliseconds read_timeout)
    : TSocketConnection(ResolveHost(host, port), host, port, connect_timeout, read_timeout) {}

TSocketConnection::TSocketConnection(const std::vector<TSocketAddress>& addresses,
                                     const std::string& host, const std::string& port,
                                     std::chrono::milliseconds connect_timeout,
                                     std::chrono::milliseconds read_timeout)
    : TConnection(read_timeout), host_(host), port_(port), read_timeout_(read_timeout) {
  fd_ = ConnectToFirst(addresses, connect_timeout, family_);
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
      const std::chrono::milliseconds allowed = WaitWithinDeadline(read_timeout_);
      if (!WaitForSocket(fd_, POLLOUT, allowed)) {
        if (allowed < read_timeout_)
          throw ELoadTimeout();
        throw ESocketError::FromErrno(ETIMEDOUT);
      }
    } else if (errno != EINTR) {
      throw ESocketError::FromErrno(errno);
    }
  }
}

long TSocketConnection::Receive(char* buffer, std::size_t max, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    if (!WaitForSocket(fd_, POLLIN, Until(deadline)))
      return kNothingYet;
    const ssize_t received = ::recv(fd_, buffer, max, 0);
    if (received >= 0)
      return static_cast<long>(received);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      throw ESocketError::FromErrno(errno);
  }
}

}  // namespace djkivo::net
