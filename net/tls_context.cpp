// TLS client context and session cache. Covered by tests/net/https_client_test.cpp (trust,
// resumption, loads from several threads at once).
#include "net/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>

#include "net/http_errors.h"
#include "net/openssl_reason.h"

namespace djkivo::net {

namespace {

void FreeServerName(void*, void* pointer, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<std::string*>(pointer);
}

// Where a session keeps the name of its server, for the new-session callback; freed with it.
int ServerSlot() {
  static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeServerName);
  return slot;
}

}  // namespace

std::shared_ptr<TTlsContext> TTlsContext::Shared(const std::string& ca_file) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<TTlsContext>> contexts;
  std::lock_guard lock(mutex);
  std::shared_ptr<TTlsContext>& context = contexts[ca_file];
  if (!context) {
    try {
      context = std::make_shared<TTlsContext>(ca_file);
    } catch (...) {
      contexts.erase(ca_file);
      throw;
    }
  }
  return context;
}

TTlsContext::TTlsContext(const std::string& ca_file) {
  context_ = SSL_CTX_new(TLS_client_method());
  if (!context_)
    throw ETlsError("TLS cannot be set up: " + TakeOpenSslReason());
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  // Without a usable system store only the CA file is trusted; that is no reason to fail.
  SSL_CTX_set_default_verify_paths(context_);
  ERR_clear_error();
  if (!ca_file.empty() && SSL_CTX_load_verify_locations(context_, ca_file.c_str(), nullptr) != 1) {
    const std::string reason = TakeOpenSslReason();
    SSL_CTX_free(context_);
    throw ETlsError("Cannot read the CA file \"" + ca_file + "\": " + reason);
  }
  // Writes are resumed where they stopped, with whatever part went out.
  SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE);
  // Sessions are kept here, per server, not in OpenSSL's own cache (which only servers use).
  SSL_CTX_set_session_cache_mode(context_,
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context_, OnNewSession);
  SSL_CTX_set_app_data(context_, this);
}

TTlsContext::~TTlsContext() {
  ForgetSessions();
  SSL_CTX_free(context_);
}

SSL* TTlsContext::NewSession(const std::string& server) {
  SSL* ssl = SSL_new(context_);
  if (!ssl)
    return nullptr;
  if (SSL_set_ex_data(ssl, ServerSlot(), new std::string(server)) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  if (const auto found = sessions_.find(server); found != sessions_.end()) {
    // Each connection resumes from a copy of its own: OpenSSL updates the session a handshake
    // uses, and loads on several threads resume the same server's session at once. The one
    // kept here is touched only under mutex_.
    if (SSL_SESSION* own = SSL_SESSION_dup(found->second.session)) {
      SSL_set_session(ssl, own);
      SSL_SESSION_free(own);  // the connection holds its own reference
    }
  }
  return ssl;
}

int TTlsContext::OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* self = static_cast<TTlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  const auto* server = static_cast<const std::string*>(SSL_get_ex_data(ssl, ServerSlot()));
  if (!self || !server)
    return 0;
  // A copy is kept, not the session the connection goes on using: OpenSSL replaces and frees
  // that one on the connection's thread when the next ticket comes, while another thread may
  // be dropping it from here.
  SSL_SESSION* own = SSL_SESSION_dup(session);
  if (!own)
    return 0;
  self->Remember(*server, own);
  return 0;  // OpenSSL keeps its reference to the connection's session
}

void TTlsContext::Remember(const std::string& server, SSL_SESSION* session) {
  std::lock_guard lock(mutex_);
  auto found = sessions_.find(server);
  if (found == sessions_.end()) {
    if (sessions_.size() >= kMaxSessions) {
      const auto oldest = std::min_element(
          sessions_.begin(), sessions_.end(),
          [](const auto& a, const auto& b) { return a.second.age < b.second.age; });
      SSL_SESSION_free(oldest->second.session);
      sessions_.erase(oldest);
    }
    found = sessions_.emplace(server, Remembered{}).first;
  } else {
    SSL_SESSION_free(found->second.session);
  }
  found->second = {session, ++remembered_};
}

void TTlsContext::ForgetSessions() {
  std::lock_guard lock(mutex_);
  for (const auto& [server, remembered] : sessions_)
    SSL_SESSION_free(remembered.session);
  sessions_.clear();
}

std::size_t TTlsContext::RememberedSessions() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace djkivo::net
