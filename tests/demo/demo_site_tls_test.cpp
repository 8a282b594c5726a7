// The demo site over HTTPS with a throwaway certificate: the same pages, play pages pointing
// at https:// streams, redirects and faults over TLS, and the certificate's files gone with it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "demo/demo_site.h"
#include "net/tls_context.h"
#include "tests/support/client_load.h"

namespace djkivo::demo {
namespace {

class DemoSiteTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DemoSiteOptions options;
    options.throwaway_tls = true;
    options.song_length = SongLength::kShort;
    options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
    site_ = new DemoSite(options);
    site_->Start();
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }

  // A load that trusts the site's CA, as `djkivo --demo --tls` does.
  static test::LoadOutcome Get(const std::string& path) {
    return test::Load(site_->BaseAddress() + path, [](net::THttpClient& client) {
      client.SetNetworkSettings({.proxy = "", .ca_file = site_->CaFile()});
    });
  }

  static DemoSite* site_;
};

DemoSite* DemoSiteTlsTest::site_ = nullptr;

TEST_F(DemoSiteTlsTest, ServesTheSitePagesOverHttps) {
  ASSERT_TRUE(site_->Tls());
  EXPECT_TRUE(site_->BaseAddress().starts_with("https://127.0.0.1:")) << site_->BaseAddress();
  const DemoSong& song = site_->Catalogue().Songs()[0];
  struct Case {
    std::string path;
    std::string contains;
  };
  const Case kCases[] = {
      {"/", "<html"},
      {"/dance/sort/remix_1.html", "</html>"},
      {"/_f/gzip,chunked/dance/sort/remix_1.html", "</html>"},
      {"/_f/redirect=2/djKivodata/ver.txt", "1"},
      {"/dance/play/" + song.id + ".html", site_->BaseAddress() + "/audio/"},
      {"/djKivodata/ver.txt", "1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    const test::LoadOutcome outcome = Get(c.path);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_NE(outcome.body.find(c.contains), std::string::npos);
  }
}

TEST_F(DemoSiteTlsTest, FaultsAndStrangersFailTheLoad) {
  struct Case {
    std::string path;
    std::string error;
  };
  const Case kCases[] = {
      {"/_f/truncate=2000/dance/sort/remix_1.html", "Connection closed without TLS close_notify."},
      {"/_f/chunked,truncate=2000/dance/sort/remix_1.html",
       "Connection closed without TLS close_notify."},
      {"/_f/reset=2000/dance/sort/remix_1.html", "Socket Error # 104\r\nConnection reset by peer"},
      {"/_f/404/dance/sort/remix_1.html", "HTTP/1.1 404 Not Found"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Get(c.path).error, c.error);
  }
  // Without the site's CA the certificate is refused; plain HTTP to the port never works.
  const test::LoadOutcome stranger =
      test::Load(site_->BaseAddress() + "/", [](net::THttpClient& client) {
        client.SetTlsContext(std::make_shared<net::TTlsContext>(""));
      });
  EXPECT_EQ(stranger.certificate_problem, net::TCertificateProblem::kUnknownIssuer)
      << stranger.error;
  EXPECT_FALSE(test::Load("http://" + site_->HostPort() + "/").ok);
}

TEST(DemoSiteTlsFilesTest, TheThrowawayCertificateGoesWithTheSite) {
  std::string ca_file;
  {
    DemoSiteOptions options;
    options.throwaway_tls = true;
    DemoSite site(options);
    ca_file = site.CaFile();
    EXPECT_TRUE(std::filesystem::exists(ca_file));
    const auto folder = std::filesystem::path(ca_file).parent_path();
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::others_all,
              std::filesystem::perms::none);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ca_file).parent_path()));
}

}  // namespace
}  // namespace djkivo::demo
