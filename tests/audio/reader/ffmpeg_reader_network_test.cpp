// The FFmpeg reader takes the pages' way to a stream: https:// streams with their certificate
// checked against the same trust (the extra CA file included), and the same proxy, through
// tinyproxy for plain streams and through its CONNECT tunnel for https ones.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "audio/media_reader.h"
#include "net/network_settings.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_media.h"
#include "tests/support/tinyproxy_server.h"

#if defined(__SANITIZE_ADDRESS__)
// Read by the sanitizers in this test program only. FFmpeg 5.1's CONNECT tunnel (its httpproxy
// protocol) never frees the HTTP version it parsed from the proxy's answer, 5 bytes on every
// https stream through a proxy (shown with a bare avformat_open_input of such an address). Its
// library has no symbols to name the function by, so the leak is told by the library in its
// stack, which only the slow unwinder sees through FFmpeg's frames.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libavformat.so.59\n"; }
#endif

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using test::ServerCertificate;
using test::TestCertificates;
using test::TestMedia;

// Installs network settings for one test and puts the empty ones back after it.
class InstalledSettings {
 public:
  explicit InstalledSettings(const net::TNetworkSettings& settings) {
    net::InstallNetworkSettings(settings);
  }
  ~InstalledSettings() { net::InstallNetworkSettings({}); }
};

// Waits for the reader's answer to an open and takes every block it delivers.
class OpenWatcher : public MediaReaderCallback {
 public:
  void OnStatus(ReaderStatus status, int result) override {
    std::lock_guard lock(mutex_);
    if (status == ReaderStatus::kOpened) {
      answered_ = true;
      result_ = result;
    } else if (status == ReaderStatus::kClosed && !answered_) {
      answered_ = true;
      result_ = result == kReaderOk ? -1 : result;
    }
    changed_.notify_all();
  }
  bool OnSample(std::uint32_t, const std::uint8_t*, std::size_t) override { return true; }

  // The open's result (kReaderOk when it opened), or nullopt when none came in time.
  std::optional<int> Result(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return answered_; }))
      return std::nullopt;
    return result_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool answered_ = false;
  int result_ = kReaderOk;
};

// The open's result; with `why`, a failure's text as the reader gives it.
std::optional<int> OpenResult(const std::string& address, std::string* why = nullptr) {
  OpenWatcher watcher;
  const std::unique_ptr<MediaReader> reader = CreateMediaReader(AddressOrigin::kNetwork);
  if (reader->Open(address, &watcher) != kReaderOk)
    return -1;
  const std::optional<int> result = watcher.Result(20s);
  if (why && result)
    *why = reader->ErrorText(*result);
  reader->Close();
  return result;
}

class FfmpegReaderNetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::NginxServer::Available())
      return;
    test::TestMediaPath(TestMedia::kMp3Cbr128);
    const test::ServerFiles& files = TestCertificates::Get().Files(ServerCertificate::kGood);
    nginx_ = new test::NginxServer(
        "", test::TestMediaFolder(),
        {.certificate_file = files.certificate_file, .key_file = files.key_file});
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  void SetUp() override {
    if (!nginx_)
      GTEST_SKIP() << "nginx is not installed";
  }
  static std::string Song() { return "/" + test::TestMediaFileName(TestMedia::kMp3Cbr128); }

  static test::NginxServer* nginx_;
};

test::NginxServer* FfmpegReaderNetworkTest::nginx_ = nullptr;

TEST_F(FfmpegReaderNetworkTest, HttpsStreamsAreCheckedAgainstTheSameTrust) {
  {
    InstalledSettings trusted({.proxy = "", .ca_file = TestCertificates::Get().CaFile()});
    EXPECT_EQ(OpenResult(nginx_->TlsUrl(Song())), kReaderOk);
  }
  // The system store alone does not know the test CA: an impostor's stream never opens, and
  // the reader says why as a page load would.
  std::string why;
  EXPECT_EQ(OpenResult(nginx_->TlsUrl(Song()), &why), kReaderCertificateRefused);
  EXPECT_EQ(why,
            "The certificate of 127.0.0.1 was issued by an unknown authority (\"DJKivo Test "
            "CA\"), or the server did not send the certificates between them.");
  InstalledSettings trusted({.proxy = "", .ca_file = TestCertificates::Get().CaFile()});
  // Two connections: FFmpeg's, then the check of why it failed.
  test::ScriptedPeer other(
      {test::ScriptedPeer::Answer(test::OkResponse("x")),
       test::ScriptedPeer::Answer(test::OkResponse("x"))},
      {.tls = &TestCertificates::Get().Context(ServerCertificate::kOtherHost)});
  EXPECT_EQ(OpenResult(other.Url(Song()), &why), kReaderCertificateRefused);
  EXPECT_EQ(why, "The certificate of 127.0.0.1 was issued for other.example, not for 127.0.0.1.");
  EXPECT_TRUE(other.Requests().empty());

  // A handshake that fails for another reason (the same bare I/O error from FFmpeg) is not
  // called a certificate's fault.
  const test::PeerScript plain = {test::PeerStep::Send("HTTP/1.1 400 Bad Request\r\n\r\n"),
                                  test::PeerStep::Drain(100ms), test::PeerStep::Close()};
  test::ScriptedPeer not_tls({plain, plain});
  const std::optional<int> refused =
      OpenResult("https://127.0.0.1:" + std::to_string(not_tls.Port()) + Song(), &why);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(*refused, kReaderOk);
  EXPECT_NE(*refused, kReaderCertificateRefused) << why;
}

TEST_F(FfmpegReaderNetworkTest, StreamsTakeTheProxy) {
  if (!test::TinyproxyServer::Available())
    GTEST_SKIP() << "tinyproxy is not installed";
  test::TinyproxyServer proxy;
  InstalledSettings via_proxy(
      {.proxy = "http://" + proxy.Name(), .ca_file = TestCertificates::Get().CaFile()});
  EXPECT_EQ(OpenResult(nginx_->Url(Song())), kReaderOk) << proxy.Log();
  EXPECT_EQ(OpenResult(nginx_->TlsUrl(Song())), kReaderOk) << proxy.Log();
  const std::string log = proxy.Log();
  EXPECT_NE(log.find("GET " + nginx_->Url(Song())), std::string::npos) << log;
  EXPECT_NE(log.find("CONNECT 127.0.0.1:" + std::to_string(nginx_->TlsPort())), std::string::npos)
      << log;
}

}  // namespace
}  // namespace djkivo
