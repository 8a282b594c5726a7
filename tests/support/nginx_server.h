// nginx on a free loopback port with its own configuration and prefix in a temporary folder,
// as a real peer for the HTTP client's tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace djkivo::test {

/// What an nginx serves besides plain HTTP on 127.0.0.1.
struct NginxOptions {
  /// With both set, the same server also speaks HTTPS on TlsPort(), with this certificate
  /// file (the certificate, then its chain) and key.
  std::string certificate_file;
  std::string key_file;
  bool ipv6 = false;  // also listen on [::1], on the same ports
};

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
  /// `server` block; "{port}" and "{tls_port}" in them stand for the two ports. Throws
  /// std::runtime_error, with nginx's error log, when it does not answer within a few seconds.
  NginxServer(const std::string& server_directives, const std::filesystem::path& root,
              NginxOptions options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int Port() const { return port_; }
  /// "http://127.0.0.1:PORT" followed by `path`.
  std::string Url(const std::string& path) const;
  /// The HTTPS port (with a certificate in the options).
  int TlsPort() const { return tls_port_; }
  /// "https://127.0.0.1:TLSPORT" followed by `path`.
  std::string TlsUrl(const std::string& path) const;

 private:
  // Starts nginx on `port`; true once it answers, false when it ended (the port was taken).
  bool Start(const std::string& server_directives, const std::filesystem::path& root);
  void Stop();
  std::string ErrorLog() const;

  TempFolder prefix_;
  const NginxOptions options_;
  int port_ = 0;
  int tls_port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace djkivo::test
