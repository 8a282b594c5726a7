// Byte sinks. Covered by tests/net/http_client_test.cpp (limits group).
#include "net/byte_sink.h"

#include "net/http_errors.h"

namespace djkivo::net {

void LimitSink::Write(std::string_view bytes) {
  count_ += bytes.size();
  if (count_ > limit_)
    throw EResponseTooLarge();
  next_.Write(bytes);
}

}  // namespace djkivo::net
