#include "tests/support/test_certificates.h"

#include <chrono>

#include "demo/certificates.h"

namespace djkivo::test {

namespace {

using demo::CertificateRequest;
using demo::Credential;

constexpr std::chrono::seconds kDay{24 * 3600};

CertificateRequest Server(const std::string& name = "127.0.0.1") {
  CertificateRequest request;
  request.common_name = name;
  request.dns_names = {"localhost"};
  request.ip_addresses = {"127.0.0.1", "::1"};
  return request;
}

CertificateRequest Authority(const std::string& name) {
  CertificateRequest request;
  request.common_name = name;
  request.authority = true;
  return request;
}

}  // namespace

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() {
  const Credential ca = Credential::Make(Authority("DJKivo Test CA"));
  const Credential stranger = Credential::Make(Authority("Nobody's CA"));
  const Credential intermediate = Credential::Make(Authority("DJKivo Test Intermediate"), &ca);
  const Credential second = Credential::Make(Authority("DJKivo Test Second Intermediate"), &ca);
  ca_file_ = folder_.Write("ca.pem", ca.CertificatePem()).string();

  CertificateRequest expired = Server();
  expired.valid_from = -10 * kDay;
  expired.valid_until = -kDay;
  CertificateRequest not_yet = Server();
  not_yet.valid_from = kDay;
  not_yet.valid_until = 10 * kDay;
  CertificateRequest other = Server("other.example");
  other.dns_names = {"other.example"};
  other.ip_addresses = {};
  CertificateRequest large = Server();
  large.padding = 19000;  // with the intermediate, some 20,000 bytes on the wire
  const Credential large_leaf = Credential::Make(large, &second);
  const Credential leaf_of_intermediate = Credential::Make(Server(), &intermediate);

  struct Made {
    ServerCertificate which;
    Credential credential;
    std::string chain;  // sent after the certificate
  };
  const Made made[] = {
      {ServerCertificate::kGood, Credential::Make(Server(), &ca), ""},
      {ServerCertificate::kExpired, Credential::Make(expired, &ca), ""},
      {ServerCertificate::kNotYetValid, Credential::Make(not_yet, &ca), ""},
      {ServerCertificate::kOtherHost, Credential::Make(other, &ca), ""},
      {ServerCertificate::kSelfSigned, Credential::Make(Server()), ""},
      {ServerCertificate::kUnknownIssuer, Credential::Make(Server(), &stranger), ""},
      {ServerCertificate::kWithIntermediate, leaf_of_intermediate, intermediate.CertificatePem()},
      {ServerCertificate::kMissingIntermediate, leaf_of_intermediate, ""},
      {ServerCertificate::kLargeChain, large_leaf, second.CertificatePem()},
  };
  int index = 0;
  for (const Made& server : made) {
    const std::string name = "server" + std::to_string(index++);
    ServerFiles files{
        folder_.Write(name + ".pem", server.credential.CertificatePem() + server.chain).string(),
        folder_.Write(name + ".key", server.credential.KeyPem()).string()};
    contexts_[server.which] =
        std::make_unique<demo::TlsServerContext>(files.certificate_file, files.key_file);
    files_[server.which] = files;
  }
}

}  // namespace djkivo::test
