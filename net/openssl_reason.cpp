// OpenSSL error reasons. Covered by the TLS failure tests (tests/net/https_client_test.cpp).
#include "net/openssl_reason.h"

#include <openssl/err.h>

namespace djkivo::net {

std::string TakeOpenSslReason(int* code) {
  const unsigned long error = ERR_peek_error();
  if (code)
    *code = error ? ERR_GET_REASON(error) : 0;
  const char* reason = error ? ERR_reason_error_string(error) : nullptr;
  ERR_clear_error();
  return reason ? reason : "unknown error";
}

}  // namespace djkivo::net
