// The certificates of the TLS tests, made when a test first asks for them, with fresh keys, in
// a temporary folder: a test CA and server certificates that pass or fail the check in each
// way a user may meet.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "demo/tls_server.h"
#include "tests/support/temp_folder.h"

namespace djkivo::test {

/// The server certificates there are. Every one names 127.0.0.1, ::1 and localhost unless
/// said otherwise.
enum class ServerCertificate {
  kGood,                 // issued by the test CA
  kExpired,              // ended yesterday
  kNotYetValid,          // starts tomorrow
  kOtherHost,            // issued for "other.example" only
  kSelfSigned,           // signed by itself
  kUnknownIssuer,        // issued by a CA nobody trusts
  kWithIntermediate,     // issued by an intermediate of the test CA, sent with it
  kMissingIntermediate,  // the same, sent without the intermediate
  kLargeChain,           // a chain of about 20,000 bytes (a padded certificate and its
                         // intermediate), issued by the test CA
};

/// The certificate files of one server: the certificate with the chain it sends, and its key.
struct ServerFiles {
  std::string certificate_file;
  std::string key_file;
};

/// Every certificate above, made once per test program. Any thread after `Get`.
class TestCertificates {
 public:
  /// The certificates of this test program, made on the first call.
  static const TestCertificates& Get();

  /// The test CA's certificate: what the tests trust (as the `--ca-file`).
  const std::string& CaFile() const { return ca_file_; }
  const ServerFiles& Files(ServerCertificate which) const { return files_.at(which); }
  /// A TLS server context for `which`, for scripted peers and demo sites.
  const demo::TlsServerContext& Context(ServerCertificate which) const {
    return *contexts_.at(which);
  }

 private:
  TestCertificates();

  TempFolder folder_;
  std::string ca_file_;
  std::map<ServerCertificate, ServerFiles> files_;
  std::map<ServerCertificate, std::unique_ptr<demo::TlsServerContext>> contexts_;
};

}  // namespace djkivo::test
