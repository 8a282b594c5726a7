// The stream input riding out the network going away mid-song, against the demo site's drop
// switch: the song comes back at the byte where it broke, exact to the ffmpeg tool's decode;
// a server that can no longer resume is skipped into; a changed file, a song that is gone and
// a drop longer than the reconnect time end the song and say why; a body framed only by the
// connection's close plays once, never again from the start.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "audio/media_stream_in.h"
#include "base/main_thread.h"
#include "demo/demo_site.h"
#include "tests/support/poll.h"
#include "tests/support/short_demo_site.h"
#include "tests/support/test_audio_stages.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// Where in the song's file the network goes away: past the reader's start-up buffering, well
// before the end of a short song.
constexpr int kDropAt = 12000;

class StreamReconnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = test::StartShortDemoSite();
    // A song of the longest kind: about 30 KB of MP3, so the drop falls in its middle.
    song_ = test::LongestSong(*site_);
    pcm_ = test::ToolPcm(site_->EnsureAudio(song_, demo::AudioFormat::kMp3));
    MainThread::Install(&main_);
    stream_.SetFileName(site_->BaseAddress() + Path());
    stream_.SetBufferingTime(1);
    stream_.SetOnReconnect([this](TComponent*) { ++reconnect_events_; });
  }
  void TearDown() override {
    input_.reset();  // while its events can still be delivered
    MainThread::Install(nullptr);
  }

  std::string Path() const { return "/audio/" + song_.id + ".mp3"; }
  // The stream's faults now, and once the site has dropped the song's connection, what the
  // site is like when the network comes back.
  void DropThenComeBackAs(int seconds, const std::string& back) {
    site_->SetStreamFaults(
        demo::ParseFaults("drop=" + std::to_string(seconds) + "@" + std::to_string(kDropAt)));
    back_ = back;
  }
  // Reads the whole stream, switching the site's faults during the drop.
  std::string Play() {
    EXPECT_EQ(test::OpenMessage(stream_), "(opened)");
    std::thread switcher([this] {
      if (test::PollUntil(
              [this] { return site_->RefusedUntil() > std::chrono::steady_clock::now(); }, 30s))
        site_->SetStreamFaults(demo::ParseFaults(back_));
    });
    std::string got = test::ReadAll(stream_);
    site_->SetStreamFaults({});
    switcher.join();
    return got;
  }
  bool IsPrefix(const std::string& got) const { return got == pcm_.substr(0, got.size()); }
  // The site takes connections.
  bool Listening() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(site_->Port());
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
  }

  QueueMainThread main_;
  std::unique_ptr<demo::DemoSite> site_;
  demo::DemoSong song_;
  std::string pcm_;
  std::string back_;
  std::unique_ptr<TMediaStreamIn> input_ = std::make_unique<TMediaStreamIn>();
  TMediaStreamIn& stream_ = *input_;
  int reconnect_events_ = 0;
};

// The network away for 2 s: the song is heard whole, not a sample lost or repeated.
TEST_F(StreamReconnectTest, ADropIsRiddenOutAndTheSongGoesOnAtTheByte) {
  DropThenComeBackAs(2, "");
  const auto started = std::chrono::steady_clock::now();
  const std::string got = Play();
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1900ms) << "the drop did not happen";
  EXPECT_EQ(got.size(), std::min<std::size_t>(pcm_.size(), stream_.Size()));
  EXPECT_TRUE(IsPrefix(got));
  EXPECT_EQ(stream_.Failure(), "");
  EXPECT_TRUE(main_.PumpUntil([this] { return reconnect_events_ == 2; }, 5000ms));
  EXPECT_GE(site_->RequestCount(Path()), 2);
}

// The site comes back without Range support (it answers with the whole file): the stream skips
// what it had, so the song still goes on at the byte; not from its start again.
TEST_F(StreamReconnectTest, AServerThatCannotResumeIsSkippedInto) {
  DropThenComeBackAs(1, "norange");
  const std::string got = Play();
  EXPECT_EQ(got.size(), std::min<std::size_t>(pcm_.size(), stream_.Size()));
  EXPECT_TRUE(IsPrefix(got));
  EXPECT_EQ(stream_.Failure(), "");
}

// The ends of a song on the way back: the file changed, the song is gone, the network stays
// away longer than the reconnect time. The song ends with what it had, and says why.
TEST_F(StreamReconnectTest, ASongThatCannotComeBackEndsAndSaysWhy) {
  const struct {
    const char* name;
    int drop_seconds;
    const char* back;
    const char* failure;
  } kCases[] = {
      {"changed file", 1, "grow=5000",
       "The stream ended early: the stream changed while it was reconnected"},
      {"gone", 1, "404", "The stream ended early: Server returned 404 Not Found"},
      {"away too long", 8, "", "The stream ended early: the connection did not come back in time"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    stream_.Close();
    site_->ClearRequests();  // the song's first request is dropped again
    stream_.SetReconnectTime(2s);
    DropThenComeBackAs(c.drop_seconds, c.back);
    const auto started = std::chrono::steady_clock::now();
    const std::string got = Play();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), pcm_.size());
    EXPECT_TRUE(IsPrefix(got));
    EXPECT_EQ(stream_.Failure(), c.failure);
    // The site must be taking connections again before the next case drops it.
    ASSERT_TRUE(test::PollUntil([this] { return Listening(); }, 30s, 10ms));
  }
}

// A body without Content-Length or chunks ends with the connection's close: the song plays once
// and ends. Before, the close was taken for a drop and reconnected at byte 0, for ever.
TEST_F(StreamReconnectTest, ABodyFramedByTheCloseEndsThere) {
  stream_.SetFileName(site_->BaseAddress() + "/_f/nolength" + Path());
  EXPECT_EQ(test::OpenMessage(stream_), "(opened)");
  const std::string got = test::ReadAll(stream_);
  EXPECT_TRUE(IsPrefix(got));
  EXPECT_GE(got.size(), pcm_.size() * 9 / 10);
  EXPECT_EQ(stream_.Failure(), "");
  EXPECT_LE(site_->RequestCount("/_f/nolength" + Path()), 2);
}

}  // namespace
}  // namespace djkivo
