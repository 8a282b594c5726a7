// The client against a real nginx on loopback, over HTTP and HTTPS: gzip, chunked framing,
// `return 302` redirects (across schemes too), a 5 MB page, nginx's own error pages, and loads
// on several threads sharing the TLS sessions.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "net/tls_context.h"
#include "tests/support/client_load.h"
#include "tests/support/compressed.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_certificates.h"

namespace djkivo::net {
namespace {

// The site as nginx serves it to every test of this file: started once, since a start costs
// tens of milliseconds and the cases share it.
class HttpNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::NginxServer::Available())
      return;
    root_ = new test::TempFolder();
    page_ = new std::string(test::PageText(60000, 7));
    big_ = new std::string(test::PageText(5 << 20, 8));
    root_->Write("page.html", *page_);
    root_->Write("plain/page.html", *page_);
    root_->Write("chunked/page.html", *page_);
    root_->Write("big.html", *big_);
    const test::ServerFiles& tls =
        test::TestCertificates::Get().Files(test::ServerCertificate::kGood);
    nginx_ = new test::NginxServer(
        "gzip on; gzip_types text/html; gzip_min_length 0; gzip_http_version 1.0;\n"
        "location /plain/ { gzip off; }\n"
        // sub_filter drops the length, so nginx frames the plain page in chunks.
        "location /chunked/ { gzip off; sub_filter '</nothing>' ''; }\n"
        "location = /moved { return 302 /page.html; }\n"
        "location = /moved-far { return 302 http://127.0.0.1:$server_port/plain/page.html; }\n"
        "location = /dance/sort/ { return 302 ../../chunked/page.html; }\n"
        "location = /loop { return 302 /loop; }\n"
        "location = /teapot { return 418 'short and stout'; }\n"
        "location = /to-https { return 301 https://127.0.0.1:{tls_port}/plain/page.html; }\n"
        "location = /to-http { return 302 http://127.0.0.1:{port}/chunked/page.html; }\n",
        root_->Path(), {.certificate_file = tls.certificate_file, .key_file = tls.key_file});
  }
  static void TearDownTestSuite() {
    delete nginx_;
    delete root_;
    delete page_;
    delete big_;
  }
  void SetUp() override {
    if (!nginx_)
      GTEST_SKIP() << "nginx is not installed";
  }

  struct Result {
    std::string body;
    std::string error;
    THttpResponse response;
  };
  static Result Get(const std::string& path, bool decompress = true) {
    THttpDecompressor decompressor;
    THttpClient client;
    client.SetHandleRedirects(true);
    if (decompress)
      client.SetCompressor(&decompressor);
    client.Request().accept_encoding = decompress ? "gzip, deflate" : "";
    Result result;
    try {
      client.GetToStream(nginx_->Url(path), result.body);
    } catch (const EHttpClientError& error) {
      result.error = error.what();
    }
    result.response = client.Response();
    return result;
  }

  static test::TempFolder* root_;
  static test::NginxServer* nginx_;
  static std::string* page_;
  static std::string* big_;
};

test::TempFolder* HttpNginxTest::root_ = nullptr;
test::NginxServer* HttpNginxTest::nginx_ = nullptr;
std::string* HttpNginxTest::page_ = nullptr;
std::string* HttpNginxTest::big_ = nullptr;

TEST_F(HttpNginxTest, PagesArriveDecodedWhateverTheFraming) {
  struct Case {
    const char* path;
    const char* encoding;  // the response's Content-Encoding
    const char* transfer;  // its Transfer-Encoding
  };
  const Case kCases[] = {
      {"/page.html", "gzip", "chunked"},
      {"/plain/page.html", "", ""},
      {"/chunked/page.html", "", "chunked"},
      {"/moved", "gzip", "chunked"},
      {"/moved-far", "", ""},
      {"/dance/sort/", "", "chunked"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    const Result result = Get(c.path);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.body == *page_) << "body of " << result.body.size() << " bytes";
    EXPECT_EQ(result.response.content_encoding, c.encoding);
    EXPECT_EQ(result.response.transfer_encoding, c.transfer);
  }
}

TEST_F(HttpNginxTest, FiveMegabytePage) {
  const Result gzipped = Get("/big.html");
  EXPECT_EQ(gzipped.error, "");
  EXPECT_EQ(gzipped.response.content_encoding, "gzip");
  EXPECT_TRUE(gzipped.body == *big_) << gzipped.body.size();
  const Result raw = Get("/big.html", false);
  EXPECT_EQ(raw.response.content_encoding, "");  // only "identity" was asked for
  EXPECT_TRUE(raw.body == *big_) << raw.body.size();
}

TEST_F(HttpNginxTest, ErrorsAndEndlessRedirects) {
  EXPECT_EQ(Get("/missing.html").error, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(Get("/loop").error, "Too many redirects.");
  THttpClient client;
  std::string body;
  try {
    client.GetToStream(nginx_->Url("/teapot"), body);
    ADD_FAILURE() << "no error";
  } catch (const EHttpProtocolError& error) {
    EXPECT_EQ(error.ErrorCode(), 418);
    EXPECT_EQ(error.ErrorMessage(), "short and stout");
  }
}

TEST_F(HttpNginxTest, HttpsPagesArriveDecodedWhateverTheFramingAndTheRedirect) {
  const std::string kUrls[] = {
      nginx_->TlsUrl("/page.html"),          // gzip, chunked
      nginx_->TlsUrl("/plain/page.html"),    // Content-Length
      nginx_->TlsUrl("/chunked/page.html"),  // chunked
      nginx_->Url("/to-https"),              // http -> https
      nginx_->TlsUrl("/to-http"),            // https -> http
      nginx_->TlsUrl("/dance/sort/"),        // relative, staying on https
  };
  for (const std::string& url : kUrls) {
    SCOPED_TRACE(url);
    const test::LoadOutcome outcome = test::LoadTrustingTestCa(url);
    EXPECT_EQ(outcome.error, "");
    EXPECT_TRUE(outcome.body == *page_) << "body of " << outcome.body.size() << " bytes";
  }
  const test::LoadOutcome big = test::LoadTrustingTestCa(nginx_->TlsUrl("/big.html"));
  EXPECT_EQ(big.error, "");
  EXPECT_TRUE(big.body == *big_) << big.body.size();
  EXPECT_EQ(test::LoadTrustingTestCa(nginx_->TlsUrl("/missing.html")).error,
            "HTTP/1.1 404 Not Found");
}

// Loads on several threads at once share one context and its session cache, as the window's
// load threads and the worker thread do.
TEST_F(HttpNginxTest, HttpsLoadsOnSeveralThreadsShareTheSessions) {
  auto context = std::make_shared<TTlsContext>(test::TestCertificates::Get().CaFile());
  constexpr int kThreads = 4;
  constexpr int kLoads = 6;
  std::atomic<int> whole{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kLoads; ++i) {
        const test::LoadOutcome outcome =
            test::Load(nginx_->TlsUrl("/page.html"), [&](THttpClient& client) {
              client.SetTlsContext(context);
              client.SetReadTimeout(std::chrono::seconds(30));
            });
        if (outcome.ok && outcome.body == *page_)
          ++whole;
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(whole.load(), kThreads * kLoads);
  EXPECT_EQ(context->RememberedSessions(), 1u);
}

}  // namespace
}  // namespace djkivo::net
