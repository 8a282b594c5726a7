#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace djkivo::test {

namespace {

// Bound on any single wait inside the peer, should the test never stop it.
constexpr int kMaxWaitMs = 60000;

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts) : scripts_(std::move(scripts)) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 ||
      ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot listen on loopback");
  port_ = ntohs(address.sin_port);
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
  return "http://127.0.0.1:" + std::to_string(port_) + path;
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

bool ScriptedPeer::WaitFd(int fd, short events) const {
  pollfd entries[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(entries, 2, kMaxWaitMs);
    if (ready < 0 && errno == EINTR)
      continue;
    return ready > 0 && entries[1].revents == 0;
  }
}

bool ScriptedPeer::SendAll(int fd, const std::string& bytes) const {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFd(fd, POLLOUT))
        return false;
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
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
  std::string input;  // received and not yet part of a recorded request
  char buffer[16384];
  // Receives more input; false when the client closed, failed or the peer stops.
  const auto receive = [&] {
    if (!WaitFd(fd, POLLIN))
      return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
      return n < 0 && (errno == EAGAIN || errno == EINTR);
    input.append(buffer, static_cast<std::size_t>(n));
    return true;
  };
  bool open = true;
  for (const PeerStep& step : script) {
    if (!open)
      break;
    switch (step.kind) {
      case PeerStep::Kind::kReadRequest: {
        std::size_t end;
        while ((end = input.find("\r\n\r\n")) == std::string::npos)
          if (!receive()) {
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
        open = SendAll(fd, step.bytes);
        break;
      case PeerStep::Kind::kPause: {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, step.pause, [this] { return stopping_; });
        open = !stopping_;
        break;
      }
      case PeerStep::Kind::kClose:
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
        while (receive())
          input.clear();
        open = false;
        break;
    }
  }
  // A script that ends with the connection open keeps it so until the client closes it.
  if (open)
    while (receive())
      input.clear();
  ::close(fd);
}

}  // namespace djkivo::test
