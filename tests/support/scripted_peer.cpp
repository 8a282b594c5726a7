#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

namespace djkivo::test {

namespace {

// Bound on any single wait inside the peer, should the test never stop it.
constexpr int kMaxWaitMs = 60000;

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts, PeerOptions options)
    : scripts_(std::move(scripts)), options_(options) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (options_.ipv6) {
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    length = sizeof address;
  } else {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof address;
  }
  auto* address = reinterpret_cast<sockaddr*>(&storage);
  listen_fd_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 || ::bind(listen_fd_, address, length) != 0 || ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, address, &length) != 0)
    throw std::runtime_error(options_.ipv6 ? "cannot listen on [::1]"
                                           : "cannot listen on loopback");
  port_ = ntohs(options_.ipv6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                              : reinterpret_cast<sockaddr_in&>(storage).sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(stop_pipe_[1], &byte, 1);
  changed_.notify_all();
  acceptor_.join();
  for (std::thread& connection : connections_)
    connection.join();
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
}

std::string OkResponse(std::string_view body, std::string_view headers) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(headers) + "\r\n" + std::string(body);
}

PeerScript ScriptedPeer::Answer(std::string response) {
  return {PeerStep::ReadRequest(), PeerStep::Send(std::move(response)), PeerStep::Close()};
}

PeerScript ScriptedPeer::AnswerEach(const std::vector<std::string>& responses) {
  PeerScript script;
  for (const std::string& response : responses) {
    script.push_back(PeerStep::ReadRequest());
    script.push_back(PeerStep::Send(response));
  }
  return script;
}

std::string ScriptedPeer::Url(const std::string& path) const {
  return std::string(options_.tls ? "https://" : "http://") +
         (options_.ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedPeer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int ScriptedPeer::Accepted() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

bool ScriptedPeer::WaitUntilDone(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [this] { return finished_ >= static_cast<int>(scripts_.size()); });
}

bool ScriptedPeer::WaitFd(int fd, short events, std::chrono::milliseconds wait) const {
  pollfd entries[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
  for (;;) {
    const int ready =
        ::poll(entries, 2, static_cast<int>(std::min<long>(wait.count(), kMaxWaitMs)));
    if (ready < 0 && errno == EINTR)
      continue;
    return ready > 0 && entries[1].revents == 0;
  }
}

bool ScriptedPeer::SendAll(int fd, demo::TlsServerSession* tls, const std::string& bytes) const {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    short events = POLLOUT;
    long n = 0;
    if (tls) {
      demo::TlsServerSession::Want want = demo::TlsServerSession::Want::kWrite;
      n = tls->Write(bytes.data() + sent, bytes.size() - sent, want);
      if (n == 0)
        return false;
      events = want == demo::TlsServerSession::Want::kRead ? POLLIN : POLLOUT;
    } else {
      n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return false;
    }
    if (n > 0)
      sent += static_cast<std::size_t>(n);
    else if (!WaitFd(fd, events))
      return false;
  }
  return true;
}

bool ScriptedPeer::Receive(int fd, demo::TlsServerSession* tls, std::string& input) const {
  char buffer[16384];
  for (;;) {
    short events = POLLIN;
    if (tls) {
      demo::TlsServerSession::Want want = demo::TlsServerSession::Want::kRead;
      const long n = tls->Read(buffer, sizeof buffer, want);
      if (n > 0) {
        input.append(buffer, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0)
        return false;
      events = want == demo::TlsServerSession::Want::kWrite ? POLLOUT : POLLIN;
    } else {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        input.append(buffer, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        return false;
    }
    if (!WaitFd(fd, events))
      return false;
  }
}

void ScriptedPeer::AcceptLoop() {
  for (;;) {
    if (!WaitFd(listen_fd_, POLLIN))
      return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    int index = 0;
    {
      std::lock_guard lock(mutex_);
      index = accepted_++;
    }
    if (index >= static_cast<int>(scripts_.size())) {
      ::close(fd);
      continue;
    }
    connections_.emplace_back([this, fd, index] {
      Play(fd, scripts_[static_cast<std::size_t>(index)]);
      {
        std::lock_guard lock(mutex_);
        ++finished_;
      }
      changed_.notify_all();
    });
  }
}

void ScriptedPeer::Play(int fd, const PeerScript& script) {
  std::unique_ptr<demo::TlsServerSession> tls;
  bool open = true;
  if (options_.tls) {
    try {
      tls = std::make_unique<demo::TlsServerSession>(*options_.tls, fd);
      for (auto want = tls->Handshake(); open && want != demo::TlsServerSession::Want::kNothing;
           want = tls->Handshake())
        open = WaitFd(fd, want == demo::TlsServerSession::Want::kRead ? POLLIN : POLLOUT);
    } catch (const std::runtime_error&) {
      open = false;  // the client refused the certificate, or spoke no TLS
    }
  }
  std::string input;  // received and not yet part of a recorded request
  for (const PeerStep& step : script) {
    if (!open)
      break;
    switch (step.kind) {
      case PeerStep::Kind::kReadRequest: {
        std::size_t end;
        while ((end = input.find("\r\n\r\n")) == std::string::npos)
          if (!Receive(fd, tls.get(), input)) {
            open = false;
            break;
          }
        if (!open)
          break;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(input.substr(0, end + 4));
        }
        changed_.notify_all();
        input.erase(0, end + 4);
        break;
      }
      case PeerStep::Kind::kSend:
        open = SendAll(fd, tls.get(), step.bytes);
        break;
      case PeerStep::Kind::kPause: {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, step.pause, [this] { return stopping_; });
        open = !stopping_;
        break;
      }
      case PeerStep::Kind::kDrain: {
        const auto until = std::chrono::steady_clock::now() + step.pause;
        for (auto left = step.pause; open && left > std::chrono::milliseconds(0);
             left = std::chrono::duration_cast<std::chrono::milliseconds>(
                 until - std::chrono::steady_clock::now())) {
          char sink[4096];
          if (!WaitFd(fd, POLLIN, left))
            break;  // the time is up, or the peer stops
          const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
          open = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
        }
        break;
      }
      case PeerStep::Kind::kClose:
        if (tls)
          tls->CloseNotify();
        ::shutdown(fd, SHUT_WR);
        open = false;
        break;
      case PeerStep::Kind::kCut:
        ::shutdown(fd, SHUT_WR);
        open = false;
        break;
      case PeerStep::Kind::kReset: {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        open = false;
        break;
      }
      case PeerStep::Kind::kStall:
        while (Receive(fd, tls.get(), input))
          input.clear();
        open = false;
        break;
    }
  }
  // A script that ends with the connection open keeps it so until the client closes it.
  if (open)
    while (Receive(fd, tls.get(), input))
      input.clear();
  tls.reset();
  ::close(fd);
}

}  // namespace djkivo::test
