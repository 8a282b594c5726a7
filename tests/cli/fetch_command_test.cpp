// djkivo-cli fetch: exact body bytes on stdout and exit 0, or the failure's message on stderr
// and exit 1, against nginx and a scripted peer.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/compressed.h"
#include "tests/support/nginx_server.h"
#include "tests/support/run_process.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_certificates.h"

namespace djkivo {
namespace {

using test::PeerStep;
using test::ScriptedPeer;

test::ProcessResult Fetch(const std::string& url) {
  return test::RunProcess({DJKIVO_CLI_PATH, "fetch", url});
}

TEST(FetchCommandTest, BodiesFromNginxAreExact) {
  if (!test::NginxServer::Available())
    GTEST_SKIP() << "nginx is not installed";
  test::TempFolder root;
  const std::string page = test::PageText(60000, 3);
  const std::string big = test::PageText(5 << 20, 4);
  root.Write("page.html", page);
  root.Write("big.html", big);
  root.Write("chunked/page.html", page);
  test::NginxServer nginx(
      "gzip on; gzip_types text/html; gzip_min_length 0;\n"
      "location /chunked/ { gzip off; sub_filter '</nothing>' ''; }\n"
      "location = /moved { return 302 /page.html; }\n",
      root.Path());
  for (const auto& [path, body] : {std::pair<std::string, const std::string*>{"/page.html", &page},
                                   {"/chunked/page.html", &page},
                                   {"/moved", &page},
                                   {"/big.html", &big}}) {
    SCOPED_TRACE(path);
    const test::ProcessResult result = Fetch(nginx.Url(path));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out == *body) << result.out.size() << " bytes";
  }
  const test::ProcessResult missing = Fetch(nginx.Url("/missing.html"));
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "HTTP/1.1 404 Not Found\n");
  EXPECT_EQ(missing.out, "");
}

TEST(FetchCommandTest, BinaryBodyAndFailureMessages) {
  using namespace std::string_literals;
  const std::string bytes = "\xB9\xB7\0\r\n\xff\x80 end"s;
  ScriptedPeer peer(
      {ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n\r\n" +
                            test::ZlibCompress(bytes)),
       ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\ncut"),
       ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\nnot gzip data")});
  const test::ProcessResult ok = Fetch(peer.Url("/bin"));
  EXPECT_EQ(ok.exit_code, 0);
  EXPECT_EQ(ok.out, bytes);

  const test::ProcessResult cut = Fetch(peer.Url("/cut"));
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_EQ(cut.err, "Connection Closed Gracefully.\n");
  EXPECT_EQ(cut.out, "");

  const test::ProcessResult damaged = Fetch(peer.Url("/gz"));
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_EQ(damaged.err.substr(0, 11), "ZLib Error ");

  int closed_port = 0;
  {
    ScriptedPeer gone({});
    closed_port = gone.Port();
  }
  const test::ProcessResult refused =
      Fetch("http://127.0.0.1:" + std::to_string(closed_port) + "/");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err, "Socket Error # 111\r\nConnection refused\n");

  const test::ProcessResult usage = test::RunProcess({DJKIVO_CLI_PATH, "fetch"});
  EXPECT_EQ(usage.exit_code, 64);
}

// The tool trusts what every OpenSSL program trusts: SSL_CERT_FILE names the system store.
TEST(FetchCommandTest, HttpsTrustsTheSystemStoreAndSaysWhyACertificateFails) {
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  // The first connection ends at the refused handshake, before its answer.
  ScriptedPeer peer({ScriptedPeer::Answer(test::OkResponse("unseen")),
                     ScriptedPeer::Answer(test::OkResponse("secure"))},
                    {.tls = &certificates.Context(test::ServerCertificate::kGood)});
  const test::ProcessResult untrusted = Fetch(peer.Url("/"));
  EXPECT_EQ(untrusted.exit_code, 1);
  EXPECT_EQ(untrusted.err,
            "The certificate of 127.0.0.1 was issued by an unknown authority (\"DJKivo Test "
            "CA\"), or the server did not send the certificates between them.\n");
  EXPECT_EQ(untrusted.out, "");
  ::setenv("SSL_CERT_FILE", certificates.CaFile().c_str(), 1);
  const test::ProcessResult trusted = Fetch(peer.Url("/"));
  ::unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_EQ(trusted.out, "secure");

  // A trusted issuer does not make a wrong certificate good.
  const struct {
    test::ServerCertificate certificate;
    std::string message_start;
  } kRefused[] = {
      {test::ServerCertificate::kExpired,
       "The certificate of 127.0.0.1 has expired (it was valid until "},
      {test::ServerCertificate::kOtherHost,
       "The certificate of 127.0.0.1 was issued for other.example, not for 127.0.0.1.\n"},
  };
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.message_start);
    ScriptedPeer refusing({ScriptedPeer::Answer(test::OkResponse("unseen"))},
                          {.tls = &certificates.Context(c.certificate)});
    const test::ProcessResult refused = test::RunProcess(
        {DJKIVO_CLI_PATH, "--ca-file", certificates.CaFile(), "fetch", refusing.Url("/")});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(refused.err.starts_with(c.message_start)) << refused.err;
    EXPECT_TRUE(refused.err.ends_with("\n")) << refused.err;
    EXPECT_EQ(refused.out, "");
  }
}

// A CA folder as `openssl rehash` leaves it: each certificate under its subject's hash.
void WriteHashedCaFolder(const test::TempFolder& folder, const std::string& ca_file) {
  const std::string pem = test::ReadFileBytes(ca_file);
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                               BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> certificate(
      PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
  ASSERT_NE(certificate, nullptr) << ca_file;
  char name[16];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(certificate.get()));
  folder.Write(name, pem);
}

TEST(FetchCommandTest, HttpsTrustsACaFolderNamedBySslCertDir) {
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  test::TempFolder folder;
  WriteHashedCaFolder(folder, certificates.CaFile());
  ScriptedPeer peer({ScriptedPeer::Answer(test::OkResponse("from the folder's CA"))},
                    {.tls = &certificates.Context(test::ServerCertificate::kGood)});
  ::setenv("SSL_CERT_FILE", (folder.Path() / "no-such-file.pem").c_str(), 1);
  ::setenv("SSL_CERT_DIR", folder.Path().c_str(), 1);
  const test::ProcessResult trusted = Fetch(peer.Url("/"));
  ::unsetenv("SSL_CERT_DIR");
  ::unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_EQ(trusted.out, "from the folder's CA");
}

TEST(FetchCommandTest, CaFileAndProxyOptions) {
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  ScriptedPeer secure({ScriptedPeer::Answer(test::OkResponse("secure"))},
                      {.tls = &certificates.Context(test::ServerCertificate::kGood)});
  const test::ProcessResult trusted = test::RunProcess(
      {DJKIVO_CLI_PATH, "--ca-file", certificates.CaFile(), "fetch", secure.Url("/")});
  EXPECT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_EQ(trusted.out, "secure");

  ScriptedPeer proxy({ScriptedPeer::Answer(test::OkResponse("via proxy"))});
  const test::ProcessResult proxied =
      test::RunProcess({DJKIVO_CLI_PATH, "--proxy", "127.0.0.1:" + std::to_string(proxy.Port()),
                        "fetch", "http://site.example/page.html"});
  EXPECT_EQ(proxied.exit_code, 0) << proxied.err;
  EXPECT_EQ(proxied.out, "via proxy");
  EXPECT_TRUE(proxy.Requests().at(0).starts_with("GET http://site.example/page.html HTTP/1.1\r\n"))
      << proxy.Requests().at(0);

  const test::ProcessResult unsupported = test::RunProcess(
      {DJKIVO_CLI_PATH, "--proxy", "socks5://127.0.0.1:1080", "fetch", secure.Url("/")});
  EXPECT_EQ(unsupported.exit_code, 1);
  EXPECT_EQ(unsupported.err,
            "Proxy \"socks5://127.0.0.1:1080\" is not supported: only http:// proxies are.\n");
}

}  // namespace
}  // namespace djkivo
