// Loopback ports for the real peers the tests start (nginx, tinyproxy).
#pragma once

#include <vector>

namespace djkivo::test {

/// A port on 127.0.0.1 that was free a moment ago (another process may still take it first:
/// callers retry with a new one). Throws std::runtime_error when none can be found.
int FreeLoopbackPort();

/// Whether something accepts connections on 127.0.0.1:`port`.
bool LoopbackPortAnswers(int port);

/// A loopback port whose connects neither succeed nor fail: a listener that never accepts,
/// with its accept queue filled, so the kernel drops further handshakes. Not copyable.
class SilentListener {
 public:
  SilentListener();  // throws std::runtime_error when it cannot listen
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;  // connections that fill the accept queue
};

}  // namespace djkivo::test
