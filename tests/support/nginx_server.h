// nginx on a free loopback port with its own configuration and prefix in a temporary folder,
// as a real peer for the HTTP client's tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace djkivo::test {

/// A running nginx (/usr/sbin/nginx, `daemon off`, one process) serving `root` on
/// 127.0.0.1:Port(), with its pid file, error log and temporary files in its own temporary
/// folder. The constructor returns once nginx answers; the destructor stops it and waits for
/// it to end (bounded: it is killed if it does not stop in time).
class NginxServer {
 public:
  /// The nginx binary the tests use.
  static constexpr const char* kBinary = "/usr/sbin/nginx";

  /// Whether nginx is installed (tests skip themselves when it is not).
  static bool Available();

  /// Starts nginx with `server_directives` (locations, gzip settings, ...) inside its one
  /// `server` block. Throws std::runtime_error, with nginx's error log, when it does not
  /// answer within a few seconds.
  NginxServer(const std::string& server_directives, const std::filesystem::path& root);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int Port() const { return port_; }
  /// "http://127.0.0.1:PORT" followed by `path`.
  std::string Url(const std::string& path) const;

 private:
  // Starts nginx on `port`; true once it answers, false when it ended (the port was taken).
  bool Start(const std::string& server_directives, const std::filesystem::path& root);
  void Stop();
  std::string ErrorLog() const;

  TempFolder prefix_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace djkivo::test
