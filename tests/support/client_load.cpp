#include "tests/support/client_load.h"

#include <memory>

#include "net/tls_context.h"
#include "tests/support/test_certificates.h"

namespace djkivo::test {

LoadOutcome Load(const std::string& url, const std::function<void(net::THttpClient&)>& setup) {
  net::THttpDecompressor decompressor;
  net::THttpClient client;
  client.SetHandleRedirects(true);
  client.SetCompressor(&decompressor);
  client.SetReadTimeout(kTestReadTimeout);
  client.SetNetworkSettings({});
  client.SetEnvironment([](const char*) { return std::optional<std::string>(); });
  client.Request().accept_encoding = "gzip, deflate";
  client.Request().user_agent = "TestAgent/1.0";
  if (setup)
    setup(client);
  LoadOutcome outcome;
  try {
    client.GetToStream(url, outcome.body);
    outcome.ok = true;
  } catch (const net::EHttpProtocolError& error) {
    outcome.error = error.what();
    outcome.code = error.ErrorCode();
    outcome.error_body = error.ErrorMessage();
  } catch (const net::ECertificateError& error) {
    outcome.error = error.what();
    outcome.certificate_problem = error.Problem();
  } catch (const net::EHttpClientError& error) {
    outcome.error = error.what();
  }
  return outcome;
}

LoadOutcome LoadTrustingTestCa(const std::string& url,
                               const std::function<void(net::THttpClient&)>& setup) {
  return Load(url, [&](net::THttpClient& client) {
    const std::string& ca_file = TestCertificates::Get().CaFile();
    client.SetNetworkSettings({.proxy = "", .ca_file = ca_file});
    client.SetTlsContext(std::make_shared<net::TTlsContext>(ca_file));
    if (setup)
      setup(client);
  });
}

}  // namespace djkivo::test
