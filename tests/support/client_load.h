// One load with the HTTP client set up as a page load sets it up, its outcome kept for the
// test to check: the body, or the failure's message (and a protocol error's code and body).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "net/http_client.h"

namespace djkivo::test {

/// Generous for a loaded machine, yet short enough for the stall cases to end quickly.
inline constexpr std::chrono::milliseconds kTestReadTimeout{1500};

struct LoadOutcome {
  bool ok = false;
  std::string body;   // the stream after the load
  std::string error;  // what() of the failure
  int code = 0;       // a protocol error's status code
  std::string error_body;
  /// The certificate problem of an ECertificateError.
  std::optional<net::TCertificateProblem> certificate_problem;
};

/// GETs `url` with redirects followed, a decompressor, Accept-Encoding "gzip, deflate",
/// User-Agent "TestAgent/1.0", kTestReadTimeout, no network settings and an empty
/// environment (so the machine's proxy variables never apply); `setup` may change the client
/// before the load.
LoadOutcome Load(const std::string& url, const std::function<void(net::THttpClient&)>& setup = {});

/// `Load` trusting the test CA (TestCertificates) beside the system store, with a TLS context of
/// its own (no session from another load); `setup` runs after that.
LoadOutcome LoadTrustingTestCa(const std::string& url,
                               const std::function<void(net::THttpClient&)>& setup = {});

}  // namespace djkivo::test
