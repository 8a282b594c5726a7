// The demo site's network fault switches: the drop that refuses connections for a while, the
// delay before every answer, a server that cannot resume, a body framed only by the close, and
// a file that changed.
#include "demo/faults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "demo/demo_site.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wire_client.h"

namespace djkivo::demo {
namespace {

using namespace std::chrono_literals;
using test::Get;
using test::TestConnection;
using test::WireResponse;

TEST(NetworkFaultsTest, ParseWithTheirValues) {
  const Faults faults = ParseFaults("drop=5@1000,delay=300,norange,nolength,grow=10");
  EXPECT_EQ(faults.drop_seconds, 5);
  EXPECT_EQ(faults.drop_at, 1000);
  EXPECT_EQ(faults.delay_milliseconds, 300);
  EXPECT_TRUE(faults.no_range);
  EXPECT_TRUE(faults.no_length);
  EXPECT_EQ(faults.grow_bytes, 10);
  for (const char* bad : {"drop=5", "drop=x@1", "drop=3601@1", "delay=60001", "delay", "norange=1",
                          "nolength=0", "grow=-1", "grow"})
    EXPECT_THROW(ParseFaults(bad), std::invalid_argument) << bad;
}

class NetworkFaultsSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSiteOptions options;
    options.cache_folder = cache_.Path();
    options.song_length = SongLength::kShort;
    site_ = std::make_unique<DemoSite>(options);
    site_->Start();
    path_ = "/audio/" + site_->Catalogue().Songs()[0].id + ".mp3";
    whole_ = Get(port(), path_).body;
    ASSERT_GT(whole_.size(), 10000u);
  }
  std::uint16_t port() const { return site_->Port(); }
  // Whether a connection to the site is refused now.
  bool Refused() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port());
    const bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                         errno == ECONNREFUSED;
    close(fd);
    return refused;
  }

  test::TempFolder cache_;
  std::unique_ptr<DemoSite> site_;
  std::string path_;
  std::string whole_;
};

// The connection is reset at the resource's byte 3000; the site then refuses connections for the
// drop's time, and afterwards the rest from byte 3000 on comes whole (it is not dropped again).
TEST_F(NetworkFaultsSiteTest, DropResetsAtItsByteAndRefusesConnectionsForItsTime) {
  const std::string target = "/_f/drop=2@3000" + path_;
  const auto before = std::chrono::steady_clock::now();
  TestConnection dropped(port());
  dropped.SendGet(target);
  const auto cut = dropped.Read(10s);
  ASSERT_TRUE(cut);
  EXPECT_FALSE(cut->complete);
  EXPECT_EQ(cut->body, whole_.substr(0, 3000));
  EXPECT_TRUE(Refused());
  EXPECT_GT(site_->RefusedUntil(), std::chrono::steady_clock::now());
  while (Refused()) {
    ASSERT_LT(std::chrono::steady_clock::now() - before, 20s) << "the refusal did not end";
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - before, 1900ms);
  const WireResponse rest = Get(port(), target, "Range: bytes=3000-\r\n");
  EXPECT_EQ(rest.status, 206);
  EXPECT_TRUE(rest.complete);
  EXPECT_EQ(cut->body + rest.body, whole_);
}

TEST_F(NetworkFaultsSiteTest, DelayHoldsEveryAnswerBack) {
  site_->SetPageFaults(ParseFaults("delay=300"));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(port(), "/dance/sort/chinese_1.html").status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 300ms);
}

TEST_F(NetworkFaultsSiteTest, NoRangeAnswersARangeWithTheWholeStream) {
  const WireResponse response = Get(port(), "/_f/norange" + path_, "Range: bytes=3000-\r\n");
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.headers.count("accept-ranges"), 0u);
  EXPECT_EQ(response.body, whole_);
}

// The body comes without Content-Length and without chunks, and ends where the site closes.
TEST_F(NetworkFaultsSiteTest, NoLengthEndsTheBodyWithTheClose) {
  TestConnection connection(port());
  connection.SendGet("/_f/nolength" + path_);
  ASSERT_TRUE(connection.ClosedWithin(10s));
  EXPECT_FALSE(connection.reset());
  const std::string& raw = connection.buffered();
  const std::size_t head_end = raw.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos);
  const std::string head = raw.substr(0, head_end);
  EXPECT_EQ(head.find("Content-Length"), std::string::npos);
  EXPECT_EQ(head.find("Transfer-Encoding"), std::string::npos);
  EXPECT_NE(head.find("Connection: close"), std::string::npos);
  EXPECT_EQ(raw.substr(head_end + 4), whole_);
}

TEST_F(NetworkFaultsSiteTest, GrowMakesTheResourceLonger) {
  const WireResponse grown = Get(port(), "/_f/grow=100" + path_);
  ASSERT_EQ(grown.body.size(), whole_.size() + 100);
  EXPECT_EQ(grown.body.substr(0, whole_.size()), whole_);
  EXPECT_EQ(grown.body.substr(whole_.size()), std::string(100, '\0'));
  const WireResponse rest = Get(port(), "/_f/grow=100" + path_, "Range: bytes=100-\r\n");
  EXPECT_EQ(rest.headers.at("content-range"), "bytes 100-" + std::to_string(whole_.size() + 99) +
                                                  "/" + std::to_string(whole_.size() + 100));
}

}  // namespace
}  // namespace djkivo::demo
