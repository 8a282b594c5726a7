#include "demo/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "base/ascii.h"
#include "base/thread_name.h"

namespace djkivo::demo {
namespace {

using namespace std::chrono_literals;

// A request head larger than this is refused: no client of the site sends more than a few
// hundred bytes, and the buffer must not grow without bound on a hostile peer.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// Request bodies are read and dropped; the site has no use for them beyond this size.
constexpr std::int64_t kMaxRequestBody = 1024 * 1024;
// An idle persistent connection is closed after this long, as real servers do.
constexpr auto kIdleTimeout = 15s;
// A request head or body that stops arriving part-way, or a client that stops reading.
constexpr auto kTransferTimeout = 30s;
// After the last response the server reads what the client still sends for this long, so
// closing with unread bytes does not turn the FIN into a reset.
constexpr auto kLingerTimeout = 1s;
// Beyond this many open connections a new one is closed at once.
constexpr std::size_t kMaxConnections = 256;
// Chunk sizes used in turn by the chunked switch: tiny, odd and large, to exercise parsers.
constexpr std::size_t kChunkSizes[] = {1000, 7, 4096, 333, 1};

// Parses a request head (without the blank line); nullopt when malformed.
std::optional<HttpRequest> ParseHead(std::string_view head) {
  HttpRequest request;
  request.head = std::string(head);
  std::size_t line_end = head.find('\n');
  std::string_view line = Trimmed(head.substr(0, line_end));
  std::size_t sp1 = line.find(' ');
  std::size_t sp2 = line.rfind(' ');
  if (sp1 == std::string_view::npos || sp2 == sp1)
    return std::nullopt;
  request.method = std::string(line.substr(0, sp1));
  request.target = std::string(Trimmed(line.substr(sp1 + 1, sp2 - sp1 - 1)));
  request.version = std::string(line.substr(sp2 + 1));
  // The absolute form, which proxies send, names the same resource (RFC 9112, 3.2.2).
  if (request.target.starts_with("http://")) {
    std::size_t path = request.target.find('/', 7);
    request.target = path == std::string::npos ? "/" : request.target.substr(path);
  }
  if (request.target.empty() || request.target[0] != '/' ||
      (request.version != "HTTP/1.1" && request.version != "HTTP/1.0"))
    return std::nullopt;
  while (line_end != std::string_view::npos) {
    head.remove_prefix(line_end + 1);
    line_end = head.find('\n');
    line = head.substr(0, line_end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty())
      continue;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
      return std::nullopt;
    request.headers.emplace_back(std::string(line.substr(0, colon)),
                                 std::string(Trimmed(line.substr(colon + 1))));
  }
  return request;
}

// The end of the head in `buffer` (the offset after the blank line), or npos.
std::size_t FindHeadEnd(const std::string& buffer, std::size_t* head_size) {
  for (std::size_t i = buffer.find('\n'); i != std::string::npos; i = buffer.find('\n', i + 1)) {
    if (i + 1 < buffer.size() && buffer[i + 1] == '\n') {
      *head_size = i;
      return i + 2;
    }
    if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
      *head_size = i;
      return i + 3;
    }
  }
  return std::string::npos;
}

std::string StatusHead(int status, std::string_view reason) {
  return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
}

std::string Chunked(std::string_view body) {
  std::string out;
  std::size_t turn = 0;
  char hex[20];
  while (!body.empty()) {
    std::size_t size = std::min(body.size(), kChunkSizes[turn++ % std::size(kChunkSizes)]);
    auto [end, error] = std::to_chars(hex, hex + sizeof hex, size, 16);
    (void)error;
    out.append(hex, end).append("\r\n").append(body.substr(0, size)).append("\r\n");
    body.remove_prefix(size);
  }
  out.append("0\r\n\r\n");
  return out;
}

// A single "bytes=A-B", "bytes=A-" or "bytes=-N" range over `size` bytes. nullopt when the
// header is absent or not of that form (the whole body is then sent, as RFC 9110 allows);
// {size, 0} when it cannot be satisfied.
std::optional<std::pair<std::int64_t, std::int64_t>> ParseRange(std::string_view value,
                                                                std::int64_t size) {
  value = Trimmed(value);
  if (value.substr(0, 6) != "bytes=" || value.find(',') != std::string_view::npos)
    return std::nullopt;
  value.remove_prefix(6);
  std::size_t dash = value.find('-');
  if (dash == std::string_view::npos)
    return std::nullopt;
  auto number = [](std::string_view text, std::int64_t* out) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && *out >= 0;
  };
  std::int64_t first = 0, last = 0;
  std::string_view a = value.substr(0, dash), b = value.substr(dash + 1);
  if (a.empty()) {
    if (!number(b, &last) || last == 0)
      return std::nullopt;
    first = std::max<std::int64_t>(0, size - last);
    last = size - 1;
  } else {
    if (!number(a, &first))
      return std::nullopt;
    if (b.empty())
      last = size - 1;
    else if (!number(b, &last) || last < first)
      return std::nullopt;
    last = std::min(last, size - 1);
  }
  if (first >= size)
    return std::pair<std::int64_t, std::int64_t>{size, 0};
  return std::pair<std::int64_t, std::int64_t>{first, last - first + 1};
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (IEquals(key, name))
      return value;
  return {};
}

std::string GzipCompress(std::string_view data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&stream, data.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("deflate failed");
  return out;
}

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Start(std::uint16_t port) {
  if (wake_read_ >= 0 || stopping_.load())
    throw std::logic_error("HttpServer::Start called twice");
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0)
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 64) != 0)
    throw std::runtime_error("Cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                             std::strerror(errno));
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void HttpServer::Stop() {
  std::lock_guard stop_lock(stop_mutex_);
  if (stopped_)
    return;
  stopped_ = true;
  stopping_.store(true, std::memory_order_release);
  if (wake_write_ >= 0) {
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(wake_write_, &byte, 1);
  }
  if (accept_thread_.joinable())
    accept_thread_.join();
  ReapConnections(true);
  for (int* fd : {&listen_fd_, &wake_read_, &wake_write_}) {
    if (*fd >= 0)
      close(*fd);
    *fd = -1;
  }
}

bool HttpServer::WaitForStop(std::chrono::milliseconds duration) const {
  return WaitFd(-1, 0, duration) == Wait::kStopped;
}

HttpServer::Wait HttpServer::WaitFd(int fd, short events, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Stopping())
      return Wait::kStopped;
    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {fd, events, 0}};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return Wait::kTimeout;
    int ready = poll(fds, fd >= 0 ? 2 : 1, static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno != EINTR)
      return Wait::kError;
    if (ready <= 0)
      continue;
    if (fds[0].revents)
      return Wait::kStopped;
    if (fds[1].revents & POLLNVAL)
      return Wait::kError;
    if (fds[1].revents & (events | POLLERR | POLLHUP))
      return Wait::kReady;
  }
}

void HttpServer::RefuseConnections(std::chrono::milliseconds duration) {
  std::lock_guard lock(refuse_mutex_);
  refused_until_ = std::max(refused_until_, std::chrono::steady_clock::now() + duration);
  if (!refusing_) {
    refusing_ = true;
    // A listener that is shut down refuses connections at once, and wakes the accept loop.
    shutdown(listen_fd_, SHUT_RD);
  }
}

std::chrono::steady_clock::time_point HttpServer::RefusedUntil() const {
  std::lock_guard lock(refuse_mutex_);
  return refused_until_;
}

bool HttpServer::ListenAfterRefusal() {
  for (;;) {
    std::chrono::steady_clock::time_point until;
    {
      std::lock_guard lock(refuse_mutex_);
      if (!refusing_)
        return true;
      until = refused_until_;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < until) {
      if (WaitForStop(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) + 1ms))
        return false;
      continue;
    }
    // A listener that was shut down cannot be trusted to listen on its port again: a new one
    // takes the port (another program may hold it for a moment, so retry).
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(fd, 64) == 0) {
      std::lock_guard lock(refuse_mutex_);
      close(listen_fd_);
      listen_fd_ = fd;
      refusing_ = false;
      if (std::chrono::steady_clock::now() < refused_until_) {
        refusing_ = true;  // extended meanwhile
        shutdown(listen_fd_, SHUT_RD);
      }
      continue;
    }
    if (fd >= 0)
      close(fd);
    if (WaitForStop(100ms))
      return false;
  }
}

void HttpServer::AcceptLoop() {
  NameThisThread("djk-demo-accept");
  for (;;) {
    if (!ListenAfterRefusal())
      return;
    Wait wait = WaitFd(listen_fd_, POLLIN, 3600s);
    if (wait == Wait::kStopped || wait == Wait::kError)
      return;
    if (wait == Wait::kTimeout)
      continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      // Out of descriptors or memory: back off instead of spinning on the ready listener.
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && WaitForStop(100ms))
        return;
      continue;
    }
    ReapConnections(false);
    std::lock_guard lock(connections_mutex_);
    if (connections_.size() >= kMaxConnections) {
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw] { Serve(raw); });
  }
}

void HttpServer::ReapConnections(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(connections_mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done.load(std::memory_order_acquire)) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished)
    connection->thread.join();
}

bool HttpServer::SendAll(Connection& connection, std::string_view data) {
  while (!data.empty()) {
    short events = POLLOUT;
    long sent = 0;
    if (connection.tls) {
      TlsServerSession::Want want = TlsServerSession::Want::kWrite;
      sent = connection.tls->Write(data.data(), data.size(), want);
      if (sent == 0)
        return false;
      events = want == TlsServerSession::Want::kRead ? POLLIN : POLLOUT;
    } else {
      sent = send(connection.fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return false;
    }
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (WaitFd(connection.fd, events, kTransferTimeout) != Wait::kReady)
      return false;
  }
  return !Stopping();
}

long HttpServer::Receive(Connection& connection, char* buffer, std::size_t size,
                         std::chrono::milliseconds timeout) {
  for (;;) {
    short events = POLLIN;
    if (connection.tls) {
      TlsServerSession::Want want = TlsServerSession::Want::kRead;
      const long got = connection.tls->Read(buffer, size, want);
      if (got >= 0)
        return got;
      events = want == TlsServerSession::Want::kWrite ? POLLOUT : POLLIN;
    } else {
      const ssize_t got = recv(connection.fd, buffer, size, MSG_DONTWAIT);
      if (got >= 0)
        return got;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return 0;
    }
    if (WaitFd(connection.fd, events, timeout) != Wait::kReady)
      return -1;
  }
}

bool HttpServer::Handshake(Connection& connection) {
  try {
    connection.tls = std::make_unique<TlsServerSession>(*tls_, connection.fd);
    for (;;) {
      const TlsServerSession::Want want = connection.tls->Handshake();
      if (want == TlsServerSession::Want::kNothing)
        return true;
      const short events = want == TlsServerSession::Want::kRead ? POLLIN : POLLOUT;
      if (WaitFd(connection.fd, events, kTransferTimeout) != Wait::kReady)
        return false;
    }
  } catch (const std::runtime_error&) {
    return false;  // a client that does not trust the certificate, or no TLS client at all
  }
}

void HttpServer::Serve(Connection* connection) {
  NameThisThread("djk-demo-serve");
  const int fd = connection->fd;
  std::string buffer;
  bool reset = false;
  // The connection ends cleanly (with close_notify under TLS) unless a response was cut short.
  bool clean = true;
  if (tls_ && !Handshake(*connection)) {
    close(fd);
    connection->done.store(true, std::memory_order_release);
    return;
  }
  for (;;) {
    std::size_t head_size = 0;
    std::size_t head_end;
    // Blank lines before a request line are allowed (RFC 9112, 2.2).
    while (buffer.starts_with("\r\n") || buffer.starts_with("\n"))
      buffer.erase(0, buffer[0] == '\r' ? 2 : 1);
    bool closed = false;
    while ((head_end = FindHeadEnd(buffer, &head_size)) == std::string::npos) {
      if (buffer.size() > kMaxHeadBytes) {
        SendAll(*connection, StatusHead(431, "Request Header Fields Too Large") +
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n");
        closed = true;
        break;
      }
      char chunk[16384];
      const long got = Receive(*connection, chunk, sizeof chunk,
                               buffer.empty() ? kIdleTimeout : kTransferTimeout);
      if (got <= 0) {
        closed = true;
        break;
      }
      buffer.append(chunk, static_cast<std::size_t>(got));
    }
    if (closed)
      break;
    std::optional<HttpRequest> request = ParseHead(std::string_view(buffer).substr(0, head_size));
    buffer.erase(0, head_end);
    if (!request) {
      SendAll(*connection,
              StatusHead(400, "Bad Request") + "Content-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    if (!request->Header("Transfer-Encoding").empty()) {
      SendAll(*connection, StatusHead(501, "Not Implemented") +
                               "Content-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    std::int64_t body_left = 0;
    if (std::string length = request->Header("Content-Length"); !length.empty()) {
      auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), body_left);
      if (error != std::errc() || end != length.data() + length.size() || body_left < 0 ||
          body_left > kMaxRequestBody) {
        SendAll(*connection, StatusHead(413, "Content Too Large") +
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n");
        break;
      }
    }
    while (body_left > 0 && !closed) {
      std::size_t take = std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(body_left));
      buffer.erase(0, take);
      body_left -= static_cast<std::int64_t>(take);
      if (body_left == 0)
        break;
      char chunk[16384];
      if (const long got = Receive(*connection, chunk, sizeof chunk, kTransferTimeout); got > 0)
        buffer.append(chunk, static_cast<std::size_t>(got));
      else
        closed = true;
    }
    if (closed)
      break;

    std::string connection_header = AsciiLowered(request->Header("Connection"));
    bool keep_alive = request->version == "HTTP/1.1"
                          ? connection_header.find("close") == std::string::npos
                          : connection_header.find("keep-alive") != std::string::npos;
    HttpResponse response;
    try {
      response = handler_(*request);
    } catch (const std::exception& error) {
      response = HttpResponse{};
      response.status = 500;
      response.reason = "Internal Server Error";
      response.headers = {{"Content-Type", "text/plain"}};
      response.body = error.what();
    }
    if (Stopping())
      break;
    if (!Respond(*connection, *request, std::move(response), keep_alive, &reset)) {
      clean = false;
      break;
    }
    if (!keep_alive)
      break;
  }
  if (reset) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else if (!Stopping()) {
    // A response cut short goes without close_notify, as a cut connection would.
    if (connection->tls && clean)
      connection->tls->CloseNotify();
    shutdown(fd, SHUT_WR);
    auto deadline = std::chrono::steady_clock::now() + kLingerTimeout;
    char sink[4096];
    while (std::chrono::steady_clock::now() < deadline &&
           Receive(*connection, sink, sizeof sink, kLingerTimeout) > 0) {
    }
  }
  close(fd);
  connection->done.store(true, std::memory_order_release);
}

bool HttpServer::Respond(Connection& connection, const HttpRequest& request, HttpResponse response,
                         bool keep_alive, bool* reset) {
  const Faults& faults = response.faults;
  if (faults.delay_milliseconds > 0 &&
      WaitForStop(std::chrono::milliseconds(faults.delay_milliseconds)))
    return false;
  if (faults.stall_seconds > 0 && faults.stall_at < 0 &&
      WaitForStop(std::chrono::seconds(faults.stall_seconds)))
    return false;
  if (faults.reset_at == 0) {
    *reset = true;
    return false;
  }

  std::string body = std::move(response.body);
  std::string head;
  std::string extra;
  // A gzip body is a different representation: a Range request then gets all of it (200).
  int status = response.status;
  std::string reason = response.reason;
  std::int64_t body_start = 0;  // the resource offset of the body's first byte
  if (faults.gzip &&
      AsciiLowered(request.Header("Accept-Encoding")).find("gzip") != std::string::npos) {
    body = GzipCompress(body);
    extra += "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n";
  } else if (response.range_capable && status == 200) {
    extra += "Accept-Ranges: bytes\r\n";
    auto size = static_cast<std::int64_t>(body.size());
    if (auto range = ParseRange(request.Header("Range"), size)) {
      if (range->first >= size) {
        status = 416;
        reason = "Range Not Satisfiable";
        body.clear();
        extra += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      } else {
        status = 206;
        reason = "Partial Content";
        extra += "Content-Range: bytes " + std::to_string(range->first) + "-" +
                 std::to_string(range->first + range->second - 1) + "/" + std::to_string(size) +
                 "\r\n";
        body_start = range->first;
        body = body.substr(static_cast<std::size_t>(range->first),
                           static_cast<std::size_t>(range->second));
      }
    }
  }
  head = StatusHead(status, reason);
  for (const auto& [name, value] : response.headers)
    head += name + ": " + value + "\r\n";
  head += extra;
  // Without framing the body ends with the connection.
  if (faults.no_length)
    keep_alive = false;
  else if (faults.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
    body = Chunked(body);
  } else {
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  head += keep_alive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  if (request.method == "HEAD")
    body.clear();

  // Head and body go out as one run of bytes, in slices, so that the trickle switch also splits
  // the head and the stall, cut and reset switches can act between slices. Their offsets count
  // body bytes.
  const auto head_size = static_cast<std::int64_t>(head.size());
  std::string wire = std::move(head);
  wire += body;
  const auto total = static_cast<std::int64_t>(wire.size());
  std::int64_t cut = total;
  if (faults.truncate_at >= 0)
    cut = std::min(cut, head_size + faults.truncate_at);
  if (faults.reset_at >= 0 && head_size + faults.reset_at < cut) {
    cut = head_size + faults.reset_at;
    *reset = true;
  }
  // The network's drop, at a byte of the resource: a body that starts at it or past it (the
  // rest asked for after the drop) is not dropped.
  bool dropped = false;
  if (faults.drop_at > body_start && head_size + faults.drop_at - body_start < cut) {
    cut = head_size + faults.drop_at - body_start;
    *reset = true;
    dropped = true;
  }
  const std::int64_t stall_at =
      faults.stall_seconds > 0 && faults.stall_at >= 0 ? head_size + faults.stall_at : -1;
  const std::int64_t slice =
      faults.bytes_per_second > 0 ? std::max<std::int64_t>(1, faults.bytes_per_second / 10) : total;
  // About ten slices a second; below 10 bytes a second, one byte per slice, spaced to the rate.
  const std::chrono::milliseconds pause(
      faults.bytes_per_second > 0 ? slice * 1000 / faults.bytes_per_second : 0);
  for (std::int64_t sent = 0; sent < cut;) {
    std::int64_t end = std::min(cut, sent + slice);
    if (stall_at > sent && stall_at < end)
      end = stall_at;
    if (!SendAll(connection, std::string_view(wire).substr(static_cast<std::size_t>(sent),
                                                           static_cast<std::size_t>(end - sent))))
      return false;
    sent = end;
    if (sent == stall_at && WaitForStop(std::chrono::seconds(faults.stall_seconds)))
      return false;
    if (faults.bytes_per_second > 0 && sent < cut && WaitForStop(pause))
      return false;
  }
  if (dropped)
    RefuseConnections(std::chrono::seconds(faults.drop_seconds));
  return cut == total && keep_alive;
}

}  // namespace djkivo::demo
