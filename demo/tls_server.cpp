// Server-side TLS. Covered by tests/demo/demo_site_tls_test.cpp and every TLS test of the HTTP
// client (the scripted TLS peers).
#include "demo/tls_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>

#include "net/openssl_reason.h"
#include "net/tls_socket_bio.h"

namespace djkivo::demo {

TlsServerContext::TlsServerContext(const std::string& certificate_file,
                                   const std::string& key_file) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (!context_)
    throw std::runtime_error("TLS cannot be set up: " + net::TakeOpenSslReason());
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE);
  std::string failed;
  if (SSL_CTX_use_certificate_chain_file(context_, certificate_file.c_str()) != 1)
    failed =
        "Cannot read the certificate \"" + certificate_file + "\": " + net::TakeOpenSslReason();
  else if (SSL_CTX_use_PrivateKey_file(context_, key_file.c_str(), SSL_FILETYPE_PEM) != 1)
    failed = "Cannot read the key \"" + key_file + "\": " + net::TakeOpenSslReason();
  else if (SSL_CTX_check_private_key(context_) != 1)
    failed = "The key \"" + key_file + "\" does not belong to the certificate \"" +
             certificate_file + "\"";
  if (!failed.empty()) {
    SSL_CTX_free(context_);
    throw std::runtime_error(failed);
  }
}

TlsServerContext::~TlsServerContext() { SSL_CTX_free(context_); }

TlsServerSession::TlsServerSession(const TlsServerContext& context, int fd) {
  ssl_ = SSL_new(context.Get());
  BIO* bio = ssl_ ? net::NewSocketBio(fd) : nullptr;
  if (!bio) {
    SSL_free(ssl_);
    throw std::runtime_error("TLS session: out of memory");
  }
  SSL_set_bio(ssl_, bio, bio);
  SSL_set_accept_state(ssl_);
}

TlsServerSession::~TlsServerSession() {
  ERR_clear_error();
  SSL_free(ssl_);
}

long TlsServerSession::Interpret(int result, Want& want) {
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
      want = Want::kRead;
      return -1;
    case SSL_ERROR_WANT_WRITE:
      want = Want::kWrite;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      ERR_clear_error();
      return 0;
    default:
      failed_ = true;
      ERR_clear_error();
      return 0;
  }
}

TlsServerSession::Want TlsServerSession::Handshake() {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  if (result == 1)
    return Want::kNothing;
  Want want = Want::kNothing;
  if (Interpret(result, want) < 0)
    return want;
  throw std::runtime_error("TLS handshake failed");
}

long TlsServerSession::Read(char* buffer, std::size_t size, Want& want) {
  ERR_clear_error();
  std::size_t read = 0;
  const int result = SSL_read_ex(ssl_, buffer, size, &read);
  return result == 1 ? static_cast<long>(read) : Interpret(result, want);
}

long TlsServerSession::Write(const char* data, std::size_t size, Want& want) {
  ERR_clear_error();
  std::size_t written = 0;
  const int result = SSL_write_ex(ssl_, data, size, &written);
  return result == 1 ? static_cast<long>(written) : Interpret(result, want);
}

void TlsServerSession::CloseNotify() {
  if (failed_)
    return;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

}  // namespace djkivo::demo
