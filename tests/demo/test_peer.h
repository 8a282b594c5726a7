// Test helpers for the demo site: a raw HTTP client on a loopback socket that shows exactly
// what the server sent (framing, resets, cut bodies), a temporary folder, and PCRE2 matching
// as the player's scrapers do it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace djkivo::demo::testing {

/// A response as read off the wire.
struct WireResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // de-chunked when chunked, as sent otherwise
  bool complete = false;                       // the framing said the body ended (not a cut-off)
};

/// One client connection to 127.0.0.1.
class TestConnection {
 public:
  explicit TestConnection(std::uint16_t port) : port_(port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("connect failed");
  }
  ~TestConnection() { close(fd_); }
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;

  void Send(const std::string& data) {
    if (send(fd_, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
      throw std::runtime_error("send failed");
  }

  void SendGet(const std::string& target, const std::string& extra_headers = "") {
    Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n" +
         extra_headers + "\r\n");
  }

  /// Reads more bytes into the buffer, waiting up to `timeout`. False on timeout, end of stream
  /// or error (`reset()` tells a reset apart).
  bool Fill(std::chrono::milliseconds timeout) {
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

  /// Reads one response; nullopt when no status line and head arrived within `timeout`.
  /// A body cut short is returned with `complete` false.
  std::optional<WireResponse> Read(std::chrono::milliseconds timeout = std::chrono::seconds(20),
                                   bool head_request = false) {
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
      std::string name = line.substr(0, colon);
      for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      response.headers[name] = line.substr(colon + 2);
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

  /// True when the server closed the connection within `timeout` (after any unread bytes).
  bool ClosedWithin(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!eof_ && std::chrono::steady_clock::now() < deadline)
      Fill(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now()));
    return eof_;
  }

  const std::string& buffered() const { return buffer_; }
  bool reset() const { return reset_; }

 private:
  const std::uint16_t port_;
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
  bool reset_ = false;
};

/// One GET on a fresh connection.
inline WireResponse Get(std::uint16_t port, const std::string& target,
                        const std::string& extra_headers = "") {
  TestConnection connection(port);
  connection.SendGet(target, extra_headers);
  std::optional<WireResponse> response = connection.Read();
  if (!response)
    throw std::runtime_error("no response to " + target);
  return *response;
}

inline std::string Gunzip(const std::string& data) {
  z_stream stream{};
  inflateInit2(&stream, 16 + MAX_WBITS);
  std::string out;
  char chunk[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("bad gzip data");
  return out;
}

/// A temporary folder removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "djkivo-demo-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Every match of `pattern` in `text` (leftmost-first, "." matching line breaks, as the
/// player's matcher runs), each as its groups 0..N.
inline std::vector<std::vector<std::string>> MatchAll(const std::string& pattern,
                                                      const std::string& text) {
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED,
                    PCRE2_DOTALL, &error, &error_offset, nullptr);
  if (!code)
    throw std::runtime_error("bad pattern " + pattern);
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  std::vector<std::vector<std::string>> matches;
  PCRE2_SIZE offset = 0;
  while (offset <= text.size() && pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()),
                                              text.size(), offset, 0, data, nullptr) >= 0) {
    PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    std::vector<std::string> groups;
    for (uint32_t g = 0; g < pcre2_get_ovector_count(data); ++g)
      groups.push_back(ovector[2 * g] == PCRE2_UNSET
                           ? std::string()
                           : text.substr(ovector[2 * g], ovector[2 * g + 1] - ovector[2 * g]));
    matches.push_back(std::move(groups));
    offset = ovector[1] > ovector[0] ? ovector[1] : ovector[1] + 1;
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  return matches;
}

/// The page as the scrapers see it: every apostrophe turned into a double quote.
inline std::string QuotesReplaced(std::string text) {
  for (char& c : text)
    if (c == '\'')
      c = '"';
  return text;
}

}  // namespace djkivo::demo::testing
