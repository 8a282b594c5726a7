// Messages of the HTTP client's failures. Covered by tests/net/http_client_test.cpp.
#include "net/http_errors.h"

#include <cstring>

namespace djkivo::net {

ESocketError::ESocketError(int error, const std::string& text)
    : EHttpClientError("Socket Error # " + std::to_string(error) + "\r\n" + text),
      error_(error),
      text_(text) {}

ESocketError ESocketError::FromErrno(int error) {
  return ESocketError(error, std::strerror(error));
}

EDecompressionError::EDecompressionError(int zlib_code)
    : EHttpClientError("ZLib Error (" + std::to_string(zlib_code) + ")"), code_(zlib_code) {}

}  // namespace djkivo::net
