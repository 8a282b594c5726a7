// The check of a server's certificate during a TLS handshake, and the plain-word message of a
// failed one.
#pragma once

#include <string>
#include <vector>

#include "net/http_errors.h"

struct ssl_st;

namespace djkivo::net {

/// The first failure of a certificate check, with what its message needs.
struct TCertificateFailure {
  int verify_error = 0;            // OpenSSL's X509_V_ERR_* code; 0: no failure
  int depth = 0;                   // 0: the server's own certificate; 1 and up: its chain
  std::string subject;             // the certificate at `depth`: its common name, or its subject
  std::string issuer;              // the common name (or subject) of that certificate's issuer
  std::string not_before;          // "YYYY-MM-DD HH:MM:SS UTC"
  std::string not_after;           // likewise
  std::vector<std::string> names;  // what the server's certificate was issued for
};

/// True when `host` is an IPv4 or IPv6 literal (without brackets).
bool IsIpLiteral(const std::string& host);

/// Sets `ssl` up to check the server's certificate chain against the context's trust, and the
/// certificate against `host`: a name (DNS names in subjectAltName, no partial wildcards) or an
/// IP literal (IP addresses in subjectAltName). A name also goes out as the server name (SNI).
/// The first failure is recorded in `failure`, which must outlive the handshake. Returns false
/// when OpenSSL refuses the host (out of memory, or a name it cannot check).
bool CheckCertificateFor(ssl_st* ssl, const std::string& host, TCertificateFailure* failure);

/// The error for `failure` of the certificate of `host`: the problem in plain words, e.g.
/// "The certificate of 127.0.0.1 was issued for other.example, not for 127.0.0.1."
ECertificateError CertificateError(const TCertificateFailure& failure, const std::string& host);

}  // namespace djkivo::net
