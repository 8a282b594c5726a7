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

std::optional<int> OpenResult(const std::string& address) {
  OpenWatcher watcher;
  const std::unique_ptr<MediaReader> reader = CreateMediaReader(AddressOrigin::kNetwork);
  if (reader->Open(address, &watcher) != kReaderOk)
    return -1;
  const std::optional<int> result = watcher.Result(20s);
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
  // The system store alone does not know the test CA: an impostor's stream never opens.
  const std::optional<int> untrusted = OpenResult(nginx_->TlsUrl(Song()));
  ASSERT_TRUE(untrusted.has_value());
  EXPECT_NE(*untrusted, kReaderOk);
  InstalledSettings trusted({.proxy = "", .ca_file = TestCertificates::Get().CaFile()});
  test::ScriptedPeer other(
      {test::ScriptedPeer::Answer(test::OkResponse("x"))},
      {.tls = &TestCertificates::Get().Context(ServerCertificate::kOtherHost)});
  const std::optional<int> other_host = OpenResult(other.Url(Song()));
  ASSERT_TRUE(other_host.has_value());
  EXPECT_NE(*other_host, kReaderOk);
  EXPECT_TRUE(other.Requests().empty());
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
