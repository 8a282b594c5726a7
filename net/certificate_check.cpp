// Certificate check and messages. Covered by tests/net/https_client_test.cpp (one table of
// certificate cases against real TLS peers).
#include "net/certificate_check.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

namespace djkivo::net {

namespace {

// Where a session keeps its failure record: an ex_data slot of the SSL object, one for the
// process.
int FailureSlot() {
  static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return slot;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm parts{};
  if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
    return "an unknown time";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

// The common name of `name`, or the whole name on one line when it has none.
std::string NameText(const X509_NAME* name) {
  if (!name)
    return {};
  const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at >= 0) {
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length >= 0) {
      std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
      OPENSSL_free(utf8);
      return text;
    }
  }
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
  X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

// The DNS names and IP addresses of the certificate's subjectAltName, or its common name.
std::vector<std::string> IssuedFor(X509* certificate) {
  std::vector<std::string> names;
  auto* alternatives = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
    if (name->type == GEN_DNS) {
      const ASN1_STRING* dns = name->d.dNSName;
      names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                         static_cast<std::size_t>(ASN1_STRING_length(dns)));
    } else if (name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* ip = name->d.iPAddress;
      char text[INET6_ADDRSTRLEN] = "";
      const int length = ASN1_STRING_length(ip);
      if ((length == 4 || length == 16) &&
          inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(ip), text, sizeof text))
        names.emplace_back(text);
    }
  }
  GENERAL_NAMES_free(alternatives);
  if (names.empty())
    names.push_back(NameText(X509_get_subject_name(certificate)));
  return names;
}

// Records the first failure; the handshake then stops with OpenSSL's answer to it.
int RecordFailure(int ok, X509_STORE_CTX* store) {
  if (ok)
    return ok;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* failure =
      ssl ? static_cast<TCertificateFailure*>(SSL_get_ex_data(ssl, FailureSlot())) : nullptr;
  if (!failure || failure->verify_error != 0)
    return ok;
  failure->verify_error = X509_STORE_CTX_get_error(store);
  failure->depth = X509_STORE_CTX_get_error_depth(store);
  if (X509* certificate = X509_STORE_CTX_get_current_cert(store)) {
    failure->subject = NameText(X509_get_subject_name(certificate));
    failure->issuer = NameText(X509_get_issuer_name(certificate));
    failure->not_before = TimeText(X509_get0_notBefore(certificate));
    failure->not_after = TimeText(X509_get0_notAfter(certificate));
  }
  if (X509* leaf = X509_STORE_CTX_get0_cert(store))
    failure->names = IssuedFor(leaf);
  return ok;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

bool IsIpLiteral(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool CheckCertificateFor(SSL* ssl, const std::string& host, TCertificateFailure* failure) {
  if (SSL_set_ex_data(ssl, FailureSlot(), failure) != 1)
    return false;
  SSL_set_verify(ssl, SSL_VERIFY_PEER, RecordFailure);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (IsIpLiteral(host))
    return X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
}

ECertificateError CertificateError(const TCertificateFailure& failure, const std::string& host) {
  const std::string of = "The certificate of " + host;
  // A certificate of the chain above the server's own is named by its subject.
  const std::string whose =
      failure.depth == 0 ? of : of + " is signed by \"" + failure.subject + "\", which";
  switch (failure.verify_error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return {TCertificateProblem::kExpired,
              whose + " has expired (it was valid until " + failure.not_after + ")."};
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return {TCertificateProblem::kNotYetValid,
              whose + " is not yet valid (it is valid from " + failure.not_before + ")."};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return {TCertificateProblem::kOtherHost,
              of + " was issued for " + Joined(failure.names) + ", not for " + host + "."};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return {TCertificateProblem::kSelfSigned, of + " is self-signed, and not trusted."};
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return {
          TCertificateProblem::kUnknownIssuer,
          of + " was issued by an authority that is not trusted (\"" + failure.subject + "\")."};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return {TCertificateProblem::kUnknownIssuer,
              of + " was issued by an unknown authority (\"" + failure.issuer +
                  "\"), or the server did not send the certificates between them."};
    default:
      return {TCertificateProblem::kOther, of + " could not be verified: " +
                                               X509_verify_cert_error_string(failure.verify_error) +
                                               "."};
  }
}

}  // namespace djkivo::net
