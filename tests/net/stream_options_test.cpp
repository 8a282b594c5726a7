// The options a stream is opened with: the pages' proxy for its address, certificate checks,
// and the trust file joined from the system store and the extra CA file.
#include "net/stream_options.h"

#include <gtest/gtest.h>

#include <map>

#include "net/http_errors.h"
#include "tests/support/temp_folder.h"

namespace djkivo::net {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;
using Environment = std::map<std::string, std::string>;

Options For(const TNetworkSettings& settings, const std::string& address,
            const Environment& environment = {}) {
  return StreamNetworkOptions(settings, address, [&](const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::nullopt : std::optional(found->second);
  });
}

TEST(StreamOptionsTest, TheStreamTakesThePagesProxy) {
  struct Case {
    const char* name;
    std::string address;
    std::string setting;
    Environment environment;
    std::string proxy;  // the http_proxy option
  };
  const Case kCases[] = {
      {"none", "http://site.example/a.mp3", "", {}, ""},
      {"http_proxy",
       "http://site.example/a.mp3",
       "",
       {{"http_proxy", "127.0.0.1:3128"}},
       "http://127.0.0.1:3128"},
      {"https_proxy for https",
       "https://site.example/a.mp3",
       "",
       {{"http_proxy", "h:1"}, {"https_proxy", "http://u:p@s:2"}},
       "http://u:p@s:2"},
      {"the setting wins",
       "https://site.example/a.mp3",
       "set:3",
       {{"https_proxy", "s:2"}},
       "http://set:3"},
      {"no_proxy, the port included",
       "http://site.example:8000/a.mp3",
       "",
       {{"http_proxy", "h:1"}, {"no_proxy", "site.example:8000"}},
       ""},
      {"no_proxy for another port",
       "http://site.example/a.mp3",
       "",
       {{"http_proxy", "h:1"}, {"no_proxy", "site.example:8000"}},
       "http://h:1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Options options = For({.proxy = c.setting, .ca_file = ""}, c.address, c.environment);
    const Options expected = {{"http_proxy", c.proxy}, {"tls_verify", "1"}};
    EXPECT_EQ(options, expected);
  }
}

TEST(StreamOptionsTest, TheTrustIsTheSystemStoreAndTheCaFile) {
  test::TempFolder folder;
  const std::string system = folder.Write("system.pem", "SYSTEM CERTIFICATES\n").string();
  const std::string extra = folder.Write("extra.pem", "EXTRA CA\n").string();
  const std::string address = "https://site.example/a.mp3";

  EXPECT_EQ(For({}, address, {{"SSL_CERT_FILE", system}}).back(),
            (std::pair<std::string, std::string>{"ca_file", system}));

  const Options joined = For({.proxy = "", .ca_file = extra}, address, {{"SSL_CERT_FILE", system}});
  ASSERT_EQ(joined.back().first, "ca_file");
  EXPECT_EQ(test::ReadFileBytes(joined.back().second), "SYSTEM CERTIFICATES\n\nEXTRA CA\n");
  // Made once per process and CA file.
  EXPECT_EQ(For({.proxy = "", .ca_file = extra}, address, {{"SSL_CERT_FILE", system}}).back(),
            joined.back());

  EXPECT_THROW(For({.proxy = "", .ca_file = (folder.Path() / "missing.pem").string()}, address),
               ETlsError);
}

}  // namespace
}  // namespace djkivo::net
