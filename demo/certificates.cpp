// Run-time certificates. Covered by tests/net/https_client_test.cpp (every certificate case) and
// tests/demo/demo_site_tls_test.cpp (the throwaway certificate).
#include "demo/certificates.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <stdexcept>

namespace djkivo::demo {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("Cannot make a certificate: " + what + " failed");
}

void Check(int result, const char* what) {
  if (result != 1)
    Fail(what);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension)
    Fail("extension " + value.substr(0, 40));
  const int added = X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
  Check(added, "X509_add_ext");
}

std::string Pem(int (*write)(BIO*, void*), void* object) {
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
  if (!out || write(out.get(), object) != 1)
    Fail("PEM writing");
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    written = count > 0;
    done += written ? static_cast<std::size_t>(count) : 0;
  }
  if (fd >= 0 && ::close(fd) != 0)
    written = false;
  if (!written)
    throw std::runtime_error("Cannot write " + path);
}

}  // namespace

Credential Credential::Make(const CertificateRequest& request, const Credential* issuer) {
  Credential made;
  made.key_.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!made.key_)
    Fail("EVP_EC_gen");
  made.certificate_.reset(X509_new(), X509_free);
  X509* certificate = made.certificate_.get();
  if (!certificate)
    Fail("X509_new");
  Check(X509_set_version(certificate, 2), "X509_set_version");
  unsigned char serial[16];
  Check(RAND_bytes(serial, sizeof serial), "RAND_bytes");
  serial[0] &= 0x7F;  // a positive serial number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serial_set = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
  BN_free(number);
  if (!serial_set)
    Fail("serial number");
  if (!X509_gmtime_adj(X509_getm_notBefore(certificate), request.valid_from.count()) ||
      !X509_gmtime_adj(X509_getm_notAfter(certificate), request.valid_until.count()))
    Fail("validity");
  X509_NAME* name = X509_get_subject_name(certificate);
  Check(X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_UTF8,
            reinterpret_cast<const unsigned char*>(request.common_name.c_str()), -1, -1, 0),
        "subject");
  X509* signer = issuer ? issuer->certificate_.get() : certificate;
  Check(X509_set_issuer_name(certificate, X509_get_subject_name(signer)), "issuer");
  Check(X509_set_pubkey(certificate, made.key_.get()), "X509_set_pubkey");

  AddExtension(certificate, signer, NID_basic_constraints,
               request.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(certificate, signer, NID_key_usage,
               request.authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  AddExtension(certificate, signer, NID_subject_key_identifier, "hash");
  if (issuer)
    AddExtension(certificate, signer, NID_authority_key_identifier, "keyid:always");
  std::string alternatives;
  for (const std::string& dns : request.dns_names)
    alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + dns;
  for (const std::string& ip : request.ip_addresses)
    alternatives += (alternatives.empty() ? "IP:" : ",IP:") + ip;
  if (!alternatives.empty())
    AddExtension(certificate, signer, NID_subject_alt_name, alternatives);
  if (!request.authority)
    AddExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
  if (request.padding > 0)
    AddExtension(certificate, signer, NID_netscape_comment, std::string(request.padding, 'x'));

  EVP_PKEY* signing_key = issuer ? issuer->key_.get() : made.key_.get();
  if (X509_sign(certificate, signing_key, EVP_sha256()) <= 0)
    Fail("X509_sign");
  return made;
}

std::string Credential::CertificatePem() const {
  return Pem(
      [](BIO* out, void* object) { return PEM_write_bio_X509(out, static_cast<X509*>(object)); },
      certificate_.get());
}

std::string Credential::KeyPem() const {
  return Pem(
      [](BIO* out, void* object) {
        return PEM_write_bio_PrivateKey(out, static_cast<EVP_PKEY*>(object), nullptr, nullptr, 0,
                                        nullptr, nullptr);
      },
      key_.get());
}

ThrowawayCertificate MakeThrowawayCertificate(const std::string& folder) {
  CertificateRequest authority_request;
  authority_request.common_name = "DJKivo demo site CA (this run only)";
  authority_request.authority = true;
  const Credential authority = Credential::Make(authority_request);
  CertificateRequest server_request;
  server_request.common_name = "127.0.0.1";
  server_request.dns_names = {"localhost"};
  server_request.ip_addresses = {"127.0.0.1", "::1"};
  const Credential server = Credential::Make(server_request, &authority);

  ThrowawayCertificate files{folder + "/ca.pem", folder + "/server.pem", folder + "/server.key"};
  WriteFile(files.ca_file, authority.CertificatePem(), 0644);
  WriteFile(files.certificate_file, server.CertificatePem(), 0644);
  WriteFile(files.key_file, server.KeyPem(), 0600);
  return files;
}

}  // namespace djkivo::demo
