#include "tests/support/media_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace djkivo::test {

namespace {

bool SendAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

MediaPeer::MediaPeer(std::string body, Script script)
    : body_(std::move(body)), script_(std::move(script)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the media peer cannot listen");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

MediaPeer::~MediaPeer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  acceptor_.join();
  for (std::thread& connection : connections_)
    connection.join();
  close(listen_fd_);
}

std::string MediaPeer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::vector<std::int64_t> MediaPeer::RangeStarts() const {
  std::lock_guard lock(mutex_);
  return range_starts_;
}

bool MediaPeer::Stopping(int wait_ms) {
  std::unique_lock lock(mutex_);
  return stop_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return stopping_; });
}

void MediaPeer::Accept() {
  while (!Stopping(0)) {
    pollfd waiting{listen_fd_, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0)
      continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    const int request = requests_.fetch_add(1);
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, fd, request] { Serve(fd, request); });
  }
}

void MediaPeer::Serve(int fd, int request) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) {
      if (Stopping(0))
        break;
      continue;
    }
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0)
      break;
    head.append(buffer, static_cast<std::size_t>(got));
  }
  std::int64_t start = 0;
  const std::size_t range = head.find("Range: bytes=");
  if (range != std::string::npos) {
    start = std::strtoll(head.c_str() + range + 13, nullptr, 10);
    std::lock_guard lock(mutex_);
    range_starts_.push_back(start);
  }
  const auto size = static_cast<std::int64_t>(body_.size());
  std::string answer;
  if (script_.refuse_reconnect && request > 0) {
    answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    start = size;
  } else if (start > 0 && start < size) {
    answer = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(start) + "-" +
             std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
  } else {
    start = 0;
    answer = "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n";
  }
  if (answer.find("503") == std::string::npos)
    answer += "Content-Type: " + script_.content_type +
              "\r\nContent-Length: " + std::to_string(size - start) +
              "\r\nConnection: close\r\n\r\n";
  bool going = SendAll(fd, answer.data(), answer.size());
  std::int64_t end = size;
  if (script_.stall_after >= 0)
    end = std::min(end, std::max(start, script_.stall_after));
  if (script_.drop_after >= 0 && request == 0)
    end = std::min(end, script_.drop_after);
  for (std::int64_t at = start; going && at < end && !Stopping(0);) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::int64_t>(end - at, 16384));
    going = SendAll(fd, body_.data() + at, piece);
    at += static_cast<std::int64_t>(piece);
  }
  if (going && script_.stall_after >= 0 && end < size)
    Stopping(60'000);  // hold the connection open, sending nothing, until the peer stops
  if (script_.drop_after >= 0 && request == 0) {
    linger reset{1, 0};  // a reset, as a dropped connection looks to the reader
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  close(fd);
}

}  // namespace djkivo::test
