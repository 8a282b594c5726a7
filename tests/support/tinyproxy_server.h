// tinyproxy on a free loopback port with its own configuration in a temporary folder: the real
// HTTP proxy of the client's proxy tests.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace djkivo::test {

/// How the proxy behaves.
struct TinyproxyOptions {
  /// With a user, the proxy asks for Basic credentials (407 without them, 401 for wrong ones).
  std::string user = {};
  std::string password = {};
  /// Refuses every client (403 "Access denied"): it only allows an address no test has.
  bool refuse_everyone = false;
  /// The port to listen on (one a proxy of an earlier test step had, say); 0 for a free one.
  int port = 0;
};

/// A running tinyproxy (`tinyproxy -d`) on 127.0.0.1:Port() that lets loopback clients reach
/// any port, HTTP and CONNECT. The constructor returns once it answers; the destructor stops
/// it and waits for it to end.
class TinyproxyServer {
 public:
  /// Whether tinyproxy is installed (tests skip themselves when it is not).
  static bool Available();

  /// Throws std::runtime_error, with tinyproxy's log, when it does not answer in time.
  explicit TinyproxyServer(TinyproxyOptions options = {});
  ~TinyproxyServer();
  TinyproxyServer(const TinyproxyServer&) = delete;
  TinyproxyServer& operator=(const TinyproxyServer&) = delete;

  int Port() const { return port_; }
  /// "127.0.0.1:PORT", as messages name the proxy.
  std::string Name() const;
  /// Its log (connections, requests), for checks and failure messages.
  std::string Log() const;

  /// The network goes silent, as a sleeping machine's does: the proxy is stopped (SIGSTOP).
  /// Its connections stay open with nothing flowing on them; new ones are taken by the kernel
  /// and never answered. The destructor then kills it, so it never sends another byte.
  void Freeze();

 private:
  TempFolder folder_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
  bool frozen_ = false;
};

}  // namespace djkivo::test
