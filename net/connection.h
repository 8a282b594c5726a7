// What a load reads its responses from and sends its requests to: a TCP connection, or TLS
// over one (directly or through a proxy's tunnel).
#pragma once

#include <chrono>
#include <string_view>

#include "net/http_input.h"

namespace djkivo::net {

/// A connection of the HTTP client. Owned and used by one load's thread; closed on destruction.
class TConnection : public HttpInput {
 public:
  using HttpInput::HttpInput;

  /// Sends all of `bytes`, each wait for room within the read limit and the deadline. Throws
  /// ESocketError (a stalled send: ETIMEDOUT), ELoadTimeout, and for TLS ETlsError.
  virtual void Send(std::string_view bytes) = 0;
};

}  // namespace djkivo::net
