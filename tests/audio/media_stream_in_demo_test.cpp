// The stream input against the demo site's songs and its fault switches (trickle, stall,
// truncate, reset, 404), the site running as its own program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/media_stream_in.h"
#include "base/main_thread.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_audio_stages.h"
#include "tests/support/test_media.h"

extern char** environ;

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// The demo site as a child process on a port of its own choosing, with its audio cache in a
// temporary folder; stopped (SIGTERM, then waited for) at destruction.
class DemoSiteProcess {
 public:
  DemoSiteProcess() {
#ifdef DJKIVO_DEMO_SITE_PATH
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string cache = cache_.Path().string();
    std::vector<std::string> args = {DJKIVO_DEMO_SITE_PATH, "--short-songs", "--cache", cache};
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The site prints its address once it serves.
    std::string line;
    char c;
    pollfd waiting{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&waiting, 1, 30000) > 0 &&
           read(out[0], &c, 1) == 1)
      line += c;
    close(out[0]);
    const std::size_t host = line.find("127.0.0.1:");
    if (host != std::string::npos)
      port_ = std::atoi(line.c_str() + host + 10);
#endif
  }
  ~DemoSiteProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  int Port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // One GET of `path`; the body (empty on failure). Enough for the site's own answers.
  std::string Get(const std::string& path) const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "GET " + path +
                                  " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                  "Connection: close\r\n\r\n";
      if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
        char buffer[16384];
        pollfd waiting{fd, POLLIN, 0};
        ssize_t got;
        while (poll(&waiting, 1, 30000) > 0 && (got = recv(fd, buffer, sizeof buffer, 0)) > 0)
          answer.append(buffer, static_cast<std::size_t>(got));
      }
    }
    close(fd);
    const std::size_t body = answer.find("\r\n\r\n");
    return answer.rfind("HTTP/1.1 200", 0) == 0 && body != std::string::npos
               ? answer.substr(body + 4)
               : std::string();
  }

 private:
  test::TempFolder cache_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class StreamInDemoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new DemoSiteProcess;
    if (site_->Port() == 0)
      return;
    // A song of the site, and its MP3 bytes as the ffmpeg tool decodes them.
    const std::string page = site_->Get("/dance/sort/remix_1.html");
    // The first play link of a real song (the site's ids have several digits).
    const std::string link = "/dance/play/";
    for (std::size_t at = page.find(link); at != std::string::npos && song_.empty();
         at = page.find(link, at + 1)) {
      const std::size_t digits = page.find_first_not_of("0123456789", at + link.size());
      if (digits != std::string::npos && digits - (at + link.size()) >= 3)
        song_ = page.substr(at + link.size(), digits - (at + link.size()));
    }
    const std::string mp3 = site_->Get("/audio/" + song_ + ".mp3");
    if (mp3.empty())
      return;
    song_pcm_ = test::ToolPcm(folder_->Write("song.mp3", mp3).string());
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }

  void SetUp() override {
    if (site_->Port() == 0 || song_pcm_.empty())
      GTEST_SKIP() << "the demo site did not start or serve a song";
    MainThread::Install(&main_);
  }
  void TearDown() override {
    input_.reset();
    MainThread::Install(nullptr);
  }

  std::string Song(const std::string& faults, const char* extension = ".mp3") const {
    return site_->Url((faults.empty() ? "" : "/_f/" + faults) + "/audio/" + song_ + extension);
  }

  std::string OpenMessage() { return test::OpenMessage(*input_); }
  std::string ReadAll() { return test::ReadAll(*input_); }

  static DemoSiteProcess* site_;
  static std::string song_;
  static std::string song_pcm_;
  static std::unique_ptr<test::TempFolder> folder_;
  QueueMainThread main_;
  std::unique_ptr<TMediaStreamIn> input_ = std::make_unique<TMediaStreamIn>();
};

DemoSiteProcess* StreamInDemoTest::site_ = nullptr;
std::string StreamInDemoTest::song_;
std::string StreamInDemoTest::song_pcm_;
std::unique_ptr<test::TempFolder> StreamInDemoTest::folder_ = std::make_unique<test::TempFolder>();

// The whole song comes through, decoded as the tool decodes it: at full speed, trickled, and
// over connections the site cuts (FIN or RST) part way, which the reader resumes with Range.
TEST_F(StreamInDemoTest, WholeSongDespiteSlowAndBrokenConnections) {
  for (const std::string faults : {"", "slow=60000", "truncate=9000", "reset=9000"}) {
    SCOPED_TRACE(faults);
    input_ = std::make_unique<TMediaStreamIn>();
    input_->SetFileName(Song(faults));
    ASSERT_EQ(OpenMessage(), "(opened)");
    EXPECT_EQ(input_->SampleRate(), 44100u);
    EXPECT_EQ(input_->Channels(), 2u);
    const std::string got = ReadAll();
    // Size comes from the whole seconds of the declared duration, so the end may be cut there.
    EXPECT_EQ(got.size(),
              std::min<std::size_t>(song_pcm_.size(), static_cast<std::size_t>(input_->Size())));
    EXPECT_TRUE(got == song_pcm_.substr(0, got.size()));
    input_->Close();
  }
}

TEST_F(StreamInDemoTest, WmaSongPlays) {
  input_->SetFileName(Song("", ".wma"));
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_TRUE(input_->Valid());
  EXPECT_GT(ReadAll().size(), 44100u);
}

// A site that stops sending ends the stream after MaxWait; closing does not wait for it.
TEST_F(StreamInDemoTest, StallEndsTheStreamAfterMaxWait) {
  input_->SetMaxWaitMilliseconds(800);
  input_->SetBufferingTime(1);
  input_->SetFileName(Song("stall=60@20000"));  // past one second of buffering
  ASSERT_EQ(OpenMessage(), "(opened)");
  const std::string got = ReadAll();
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), song_pcm_.size());
  const auto before = std::chrono::steady_clock::now();
  input_->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

// A stall shorter than MaxWait is ridden out: the song comes through whole, with nothing
// lost or added where the site paused.
TEST_F(StreamInDemoTest, AStallShorterThanMaxWaitLeavesNoGap) {
  input_->SetMaxWaitMilliseconds(8000);
  input_->SetBufferingTime(1);
  input_->SetFileName(Song("stall=2@20000"));
  ASSERT_EQ(OpenMessage(), "(opened)");
  const std::string got = ReadAll();
  EXPECT_EQ(got.size(),
            std::min<std::size_t>(song_pcm_.size(), static_cast<std::size_t>(input_->Size())));
  EXPECT_TRUE(got == song_pcm_.substr(0, got.size()));
}

// The site's process ends while the stream waits on it: the reader's reconnects are refused
// until the reconnect time is used up, and the stream ends with what it had and says why.
TEST_F(StreamInDemoTest, ASiteThatDiesMidSongEndsTheStreamAfterTheReconnectTime) {
  auto dying = std::make_unique<DemoSiteProcess>();
  ASSERT_NE(dying->Port(), 0);
  input_->SetMaxWaitMilliseconds(60000);
  input_->SetBufferingTime(1);
  input_->SetReconnectTime(3s);
  input_->SetFileName(dying->Url("/_f/stall=600@20000/audio/" + song_ + ".mp3"));
  ASSERT_EQ(OpenMessage(), "(opened)");
  const auto killed = std::chrono::steady_clock::now();
  dying.reset();
  const std::string got = ReadAll();
  // The 3 s, the read time-out that noticed the silent connection (5 s), one last attempt.
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 15s);
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), song_pcm_.size());
  EXPECT_TRUE(got == song_pcm_.substr(0, got.size()));
  EXPECT_EQ(input_->Failure(), "The stream ended early: the connection did not come back in time");
}

TEST_F(StreamInDemoTest, MissingSongFailsTheOpenAndStillReportsIt) {
  int opened = 0;
  input_->SetOnStreamOpened([&](TComponent*) { ++opened; });
  input_->SetFileName(Song("404"));
  EXPECT_EQ(OpenMessage(), "");
  EXPECT_TRUE(main_.PumpUntil([&] { return opened == 1; }, 5000ms));
}

}  // namespace
}  // namespace djkivo
