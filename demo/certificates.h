// Certificates made at run time, with fresh keys: the throwaway certificate of `djkivo --demo
// --tls`, and every certificate the tests need (a test CA, good, expired, not yet valid, for
// another host, self-signed, chains with intermediates). Nothing with a private key is ever
// stored in the source tree.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct evp_pkey_st;
struct x509_st;

namespace djkivo::demo {

/// What one certificate says about itself.
struct CertificateRequest {
  std::string common_name;
  std::vector<std::string> dns_names;     // subjectAltName DNS entries
  std::vector<std::string> ip_addresses;  // subjectAltName IP entries (IPv4 or IPv6 text)
  /// Validity, from now: the default is valid for an hour past and a month ahead.
  std::chrono::seconds valid_from{-3600};
  std::chrono::seconds valid_until{30 * 24 * 3600};
  bool authority = false;   // a CA: may sign certificates
  std::size_t padding = 0;  // bytes of a non-critical comment extension, to make it large
};

/// A fresh key (EC P-256) with its certificate. Copies share the same key and certificate.
class Credential {
 public:
  /// Makes a certificate for `request` with a new key, signed by `issuer`, or by itself when
  /// `issuer` is null. Throws std::runtime_error when OpenSSL fails.
  static Credential Make(const CertificateRequest& request, const Credential* issuer = nullptr);

  /// The certificate as PEM text.
  std::string CertificatePem() const;
  /// The private key as PEM text (PKCS#8, unencrypted).
  std::string KeyPem() const;

 private:
  std::shared_ptr<evp_pkey_st> key_;
  std::shared_ptr<x509_st> certificate_;
};

/// The files of a throwaway certificate: a CA made for one run, and a server certificate it
/// issued for 127.0.0.1, ::1 and localhost.
struct ThrowawayCertificate {
  std::string ca_file;           // the CA certificate: what the player trusts for the run
  std::string certificate_file;  // the server's certificate
  std::string key_file;          // its key, readable by the owner only
};

/// Makes a throwaway CA and server certificate and writes them into `folder` (which must
/// exist) as "ca.pem", "server.pem" and "server.key". Throws std::runtime_error.
ThrowawayCertificate MakeThrowawayCertificate(const std::string& folder);

}  // namespace djkivo::demo
