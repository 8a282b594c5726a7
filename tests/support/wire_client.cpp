#include "tests/support/wire_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "base/ascii.h"

namespace djkivo::test {

TestConnection::TestConnection(std::uint16_t port) : port_(port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd_ >= 0)
      close(fd_);
    throw std::runtime_error("connect failed");
  }
}

TestConnection::~TestConnection() { close(fd_); }

void TestConnection::Send(const std::string& data) {
  if (send(fd_, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
    throw std::runtime_error("send failed");
}

void TestConnection::SendGet(const std::string& target, const std::string& extra_headers) {
  Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n" +
       extra_headers + "\r\n");
}

bool TestConnection::Fill(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
    return false;
  char chunk[65536];
  ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
  if (got < 0 && errno == ECONNRESET)
    reset_ = true;
  if (got <= 0) {
    eof_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<std::size_t>(got));
  return true;
}

std::optional<WireResponse> TestConnection::Read(std::chrono::milliseconds timeout,
                                                 bool head_request) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto left = [&] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  };
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!Fill(left()))
      return std::nullopt;
  WireResponse response;
  std::string head = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  response.status = std::stoi(head.substr(9, 3));
  for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
    std::size_t next = head.find("\r\n", at + 2);
    std::string line =
        head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
    std::size_t colon = line.find(':');
    response.headers[AsciiLowered(line.substr(0, colon))] = line.substr(colon + 2);
    at = next;
  }
  if (head_request) {
    response.complete = true;
    return response;
  }
  if (response.headers.count("transfer-encoding")) {
    for (;;) {
      std::size_t line_end;
      while ((line_end = buffer_.find("\r\n")) == std::string::npos)
        if (!Fill(left()))
          return response;
      std::size_t size = std::stoul(buffer_.substr(0, line_end), nullptr, 16);
      while (buffer_.size() < line_end + 2 + size + 2)
        if (!Fill(left()))
          return response;
      response.body += buffer_.substr(line_end + 2, size);
      buffer_.erase(0, line_end + 2 + size + 2);
      if (size == 0) {
        response.complete = true;
        return response;
      }
    }
  }
  std::size_t length = std::stoul(response.headers["content-length"]);
  while (buffer_.size() < length)
    if (!Fill(left()))
      break;
  std::size_t take = std::min(length, buffer_.size());
  response.body = buffer_.substr(0, take);
  buffer_.erase(0, take);
  response.complete = take == length;
  return response;
}

bool TestConnection::ClosedWithin(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!eof_ && std::chrono::steady_clock::now() < deadline)
    Fill(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                               std::chrono::steady_clock::now()));
  return eof_;
}

WireResponse Get(std::uint16_t port, const std::string& target, const std::string& extra_headers) {
  TestConnection connection(port);
  connection.SendGet(target, extra_headers);
  std::optional<WireResponse> response = connection.Read();
  if (!response)
    throw std::runtime_error("no response to " + target);
  return *response;
}

}  // namespace djkivo::test
