// nginx on a free loopback port serving a folder, for tests and benchmarks of the stream input.
#pragma once

#include <sys/types.h>

#include <string>

namespace djkivo::test {

/// Runs nginx (in the foreground, one process) on 127.0.0.1 with its configuration and logs in
/// a temporary folder, serving `root`. `extra` is added to the server block (for example
/// "send_timeout 1s;"). The constructor returns once nginx accepts connections and throws
/// std::runtime_error when it cannot start; the destructor stops it.
class MediaNginx {
 public:
  explicit MediaNginx(const std::string& root, const std::string& extra = "");
  ~MediaNginx();
  MediaNginx(const MediaNginx&) = delete;
  MediaNginx& operator=(const MediaNginx&) = delete;

  int Port() const { return port_; }
  /// "http://127.0.0.1:PORT/" + `path`.
  std::string Url(const std::string& path) const;

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

/// A free TCP port on 127.0.0.1 (bound once and released).
int FreeLoopbackPort();

/// Waits (at most `timeout_ms`) until 127.0.0.1:`port` accepts a connection.
bool WaitForPort(int port, int timeout_ms);

}  // namespace djkivo::test
