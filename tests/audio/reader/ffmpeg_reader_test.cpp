// The FFmpeg reader on real files, nginx and a scripted peer: formats, PCM against the ffmpeg
// tool, failures, closing a blocked read, holding back, and riding out dropped connections.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/media_reader.h"
#include "tests/support/media_peer.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

#if defined(__SANITIZE_ADDRESS__)
// Read by the sanitizers in this test program only. FFmpeg 5.1's HLS demuxer never frees the
// options it copies for a segment's input while that input is probed (one dictionary entry, 54
// bytes, for each HLS address opened; seen in the playlist test). Its library has no symbols to
// name its function by, so the leak is told by the exported probe in its stack, which only the
// slow unwinder sees through FFmpeg's frames; the player's own contexts are never allocated there.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:av_probe_input_buffer2\n"; }
#endif

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using test::TestMedia;

// Collects what a reader calls back; reports blocks consumed at once unless told to hold them.
class Collector : public MediaReaderCallback {
 public:
  void OnStatus(ReaderStatus status, int result) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(status);
    if (result != kReaderOk)
      failure_ = result;
    changed_.notify_all();
  }

  bool OnSample(std::uint32_t output, const std::uint8_t* data, std::size_t length) override {
    std::lock_guard lock(mutex_);
    outputs_seen_ |= 1u << output;
    pcm_.append(reinterpret_cast<const char*>(data), length);
    held_ += length;
    if (consume_ && reader_)
      ReleaseLocked(held_);
    changed_.notify_all();
    return true;
  }

  void Attach(MediaReader* reader) {
    std::lock_guard lock(mutex_);
    reader_ = reader;
  }
  /// Reports `bytes` of the held blocks consumed.
  void Release(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    ReleaseLocked(bytes);
  }
  void SetConsume(bool consume) {
    std::lock_guard lock(mutex_);
    consume_ = consume;
    if (consume)
      ReleaseLocked(held_);
  }

  bool WaitForStatus(ReaderStatus status, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return HasLocked(status); });
  }
  bool WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      return HasLocked(ReaderStatus::kEndOfFile) || HasLocked(ReaderStatus::kClosed);
    });
  }
  bool WaitForBytes(std::size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pcm_.size() >= bytes; });
  }
  bool Has(ReaderStatus status) {
    std::lock_guard lock(mutex_);
    return HasLocked(status);
  }
  int Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
  }
  std::string Pcm() {
    std::lock_guard lock(mutex_);
    return pcm_;
  }

 private:
  bool HasLocked(ReaderStatus status) const {
    return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
  }
  void ReleaseLocked(std::size_t bytes) {
    bytes = std::min(bytes, held_);
    if (reader_ && bytes > 0)
      reader_->Consumed(bytes);
    held_ -= bytes;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ReaderStatus> statuses_;
  int failure_ = kReaderOk;
  std::string pcm_;
  std::size_t held_ = 0;
  unsigned outputs_seen_ = 0;
  bool consume_ = true;
  MediaReader* reader_ = nullptr;
};

// Opens `address`, checks the one audio output's format, and (started) decodes to the end.
struct Opened {
  std::unique_ptr<MediaReader> reader;
  Collector collector;
  ReaderMediaType type;
};

// Reconnects as the player does, for a time that suits a test.
constexpr auto kReconnectTime = 10s;

void OpenAndStart(Opened& opened, const std::string& address, AddressOrigin origin,
                  std::chrono::milliseconds reconnect_time = kReconnectTime) {
  opened.reader = CreateMediaReader(origin);
  opened.reader->SetReconnectTime(reconnect_time);
  opened.collector.Attach(opened.reader.get());
  ASSERT_EQ(opened.reader->Open(address, &opened.collector), kReaderOk);
  ASSERT_TRUE(opened.collector.WaitForStatus(ReaderStatus::kOpened, 10s));
  ASSERT_EQ(opened.collector.Failure(), kReaderOk);
  std::uint32_t outputs = 0;
  ASSERT_EQ(opened.reader->GetOutputCount(&outputs), kReaderOk);
  ASSERT_EQ(outputs, 1u);
  ASSERT_EQ(opened.reader->GetMediaType(0, &opened.type), kReaderOk);
  ASSERT_TRUE(opened.type.is_audio);
  ASSERT_EQ(opened.reader->Start(1.0f), kReaderOk);
}

struct FormatCase {
  TestMedia media;
  std::uint32_t rate;
  std::uint32_t channels;
};

class FileFormatTest : public ::testing::TestWithParam<FormatCase> {};

// Every kind of file decodes to what the ffmpeg tool decodes: the same decoders and the same
// conversion to 16 bits, so equal bytes (sample-exact for WAV), and the container's duration.
TEST_P(FileFormatTest, DecodesLikeTheToolWithTheStreamsOwnFormat) {
  const FormatCase& format = GetParam();
  const std::string path = test::TestMediaPath(format.media);
  Opened opened;
  OpenAndStart(opened, path, AddressOrigin::kUser);
  EXPECT_EQ(opened.type.sample_rate, format.rate);
  EXPECT_EQ(opened.type.channels, format.channels);
  EXPECT_EQ(opened.type.bits_per_sample, 16u);
  ASSERT_TRUE(opened.collector.WaitForEnd(30s));
  EXPECT_TRUE(opened.collector.Has(ReaderStatus::kStarted));
  EXPECT_TRUE(opened.collector.Has(ReaderStatus::kEndOfFile));
  const std::string ours = opened.collector.Pcm();
  const std::string tool = test::ToolPcm(path);
  ASSERT_EQ(ours.size(), tool.size());
  EXPECT_TRUE(ours == tool) << "decoded PCM differs from the tool's";
  if (format.media != TestMedia::kTruncatedMp3) {
    std::uint64_t duration = 0;
    ASSERT_EQ(opened.reader->GetAttribute("Duration", &duration), kReaderOk);
    EXPECT_NEAR(static_cast<double>(duration) / 1e7, test::kTestMediaSeconds, 0.2);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FileFormatTest,
                         ::testing::Values(FormatCase{TestMedia::kMp3Cbr128, 44100, 2},
                                           FormatCase{TestMedia::kMp3Cbr320, 44100, 2},
                                           FormatCase{TestMedia::kMp3Vbr, 44100, 2},
                                           FormatCase{TestMedia::kWma, 44100, 2},
                                           FormatCase{TestMedia::kOggVorbis, 44100, 2},
                                           FormatCase{TestMedia::kWav8Mono, 11025, 1},
                                           FormatCase{TestMedia::kWav8Stereo, 22050, 2},
                                           FormatCase{TestMedia::kWav16Mono, 32000, 1},
                                           FormatCase{TestMedia::kWav16Stereo, 44100, 2},
                                           FormatCase{TestMedia::kTruncatedMp3, 44100, 2}));

class ServedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (TestMedia media :
         {TestMedia::kMp3Cbr128, TestMedia::kWma, TestMedia::kWav16Stereo, TestMedia::kOggVorbis})
      test::TestMediaPath(media);
    nginx_ = new test::NginxServer("", test::TestMediaFolder());
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  static test::NginxServer* nginx_;
};

test::NginxServer* ServedTest::nginx_ = nullptr;

TEST_F(ServedTest, StreamsOverHttpDecodeLikeTheFiles) {
  for (TestMedia media :
       {TestMedia::kMp3Cbr128, TestMedia::kWma, TestMedia::kWav16Stereo, TestMedia::kOggVorbis}) {
    SCOPED_TRACE(test::TestMediaFileName(media));
    Opened opened;
    OpenAndStart(opened, nginx_->Url("/" + test::TestMediaFileName(media)),
                 AddressOrigin::kNetwork);
    ASSERT_TRUE(opened.collector.WaitForEnd(30s));
    EXPECT_TRUE(opened.collector.Has(ReaderStatus::kEndOfFile));
    EXPECT_TRUE(opened.collector.Pcm() == test::ToolPcm(test::TestMediaPath(media)));
    std::uint64_t bitrate = 0;
    if (media == TestMedia::kMp3Cbr128) {
      ASSERT_EQ(opened.reader->GetAttribute("Bitrate", &bitrate), kReaderOk);
      EXPECT_NEAR(static_cast<double>(bitrate), 128000, 2000);
    }
  }
}

// Opens that fail: each is answered by an opened status with a failure code, never by silence.
TEST_F(ServedTest, BadStreamsFailTheOpen) {
  const std::string random = test::TestMediaPath(TestMedia::kRandomBytes);
  int closed_port = 0;  // a port nobody listens on any more
  {
    test::MediaPeer gone("", {});
    closed_port = gone.Port();
  }
  const struct {
    std::string address;
    AddressOrigin origin;
  } kCases[] = {
      {random, AddressOrigin::kUser},
      {nginx_->Url("/" + test::TestMediaFileName(TestMedia::kRandomBytes)),
       AddressOrigin::kNetwork},
      {nginx_->Url("/missing.mp3"), AddressOrigin::kNetwork},
      {"http://127.0.0.1:" + std::to_string(closed_port) + "/x.mp3", AddressOrigin::kNetwork},
  };
  for (const auto& bad : kCases) {
    SCOPED_TRACE(bad.address);
    Collector collector;
    auto reader = CreateMediaReader(bad.origin);
    ASSERT_EQ(reader->Open(bad.address, &collector), kReaderOk);
    ASSERT_TRUE(collector.WaitForStatus(ReaderStatus::kOpened, 20s));
    EXPECT_NE(collector.Failure(), kReaderOk);
    std::uint32_t outputs = 0;
    EXPECT_NE(reader->GetOutputCount(&outputs), kReaderOk);
  }
}

// Addresses from pages may not name local files or other protocols; the user's own may.
TEST(FfmpegReaderTest, NetworkAddressesAreLimitedToNetworkProtocols) {
  const std::string path = test::TestMediaPath(TestMedia::kWav16Mono);
  for (const std::string& address :
       std::vector<std::string>{path, "file://" + path, "concat:" + path, "pipe:0", ""}) {
    SCOPED_TRACE(address);
    Collector collector;
    EXPECT_NE(CreateMediaReader(AddressOrigin::kNetwork)->Open(address, &collector), kReaderOk);
  }
  Opened opened;
  OpenAndStart(opened, "file://" + path, AddressOrigin::kUser);
  EXPECT_TRUE(opened.collector.WaitForEnd(10s));
}

// A page's address may not be a playlist or manifest that makes FFmpeg fetch further addresses
// of the page's choosing (loopback and LAN included): the song is not played and the address in
// it never asked for. The user's own address may be one (which shows the playlists work).
TEST(FfmpegReaderTest, PageAddressesOpenOnlyAudioContainers) {
  test::MediaPeer segment(test::ReadFileBytes(test::TestMediaPath(TestMedia::kMp3Cbr128)), {});
  const struct {
    const char* name;
    std::string body;
    const char* type;
  } kCases[] = {
      {"HLS",
       "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:6\n#EXTINF:5.0,\n" +
           segment.Url("hls.mp3") + "\n#EXT-X-ENDLIST\n",
       "application/vnd.apple.mpegurl"},
      {"DASH",
       "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
       "mediaPresentationDuration=\"PT5S\" minBufferTime=\"PT1S\" "
       "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period><AdaptationSet "
       "mimeType=\"audio/mpeg\"><Representation id=\"a\" bandwidth=\"128000\"><BaseURL>" +
           segment.Url("dash.mp3") + "</BaseURL></Representation></AdaptationSet></Period></MPD>\n",
       "application/dash+xml"},
  };
  for (const auto& c : kCases) {
    for (AddressOrigin origin : {AddressOrigin::kUser, AddressOrigin::kNetwork}) {
      SCOPED_TRACE(std::string(c.name) + (origin == AddressOrigin::kUser ? " (user)" : ""));
      const std::string answer =
          test::OkResponse(c.body, std::string("Content-Type: ") + c.type + "\r\n");
      test::ScriptedPeer playlist({test::ScriptedPeer::Answer(answer),
                                   test::ScriptedPeer::Answer(answer),
                                   test::ScriptedPeer::Answer(answer)});
      const int before = segment.Requests();
      Collector collector;
      auto reader = CreateMediaReader(origin);
      collector.Attach(reader.get());
      ASSERT_EQ(reader->Open(playlist.Url("/list"), &collector), kReaderOk);
      ASSERT_TRUE(collector.WaitForStatus(ReaderStatus::kOpened, 20s));
      if (collector.Failure() == kReaderOk && reader->Start(1.0f) == kReaderOk)
        collector.WaitForEnd(20s);
      reader->Close();
      if (origin == AddressOrigin::kUser) {
        EXPECT_GT(segment.Requests(), before) << "the playlist does lead FFmpeg to its segment";
      } else {
        EXPECT_EQ(segment.Requests(), before);
        EXPECT_EQ(collector.Pcm(), "");
      }
    }
  }
}

TEST(FfmpegReaderTest, VideoOnlyFileOpensWithoutAudioOutput) {
  Collector collector;
  auto reader = CreateMediaReader(AddressOrigin::kUser);
  ASSERT_EQ(reader->Open(test::TestMediaPath(TestMedia::kVideoOnly), &collector), kReaderOk);
  ASSERT_TRUE(collector.WaitForStatus(ReaderStatus::kOpened, 10s));
  EXPECT_EQ(collector.Failure(), kReaderOk);
  std::uint32_t outputs = 0;
  ASSERT_EQ(reader->GetOutputCount(&outputs), kReaderOk);
  ASSERT_EQ(outputs, 1u);
  ReaderMediaType type;
  ASSERT_EQ(reader->GetMediaType(0, &type), kReaderOk);
  EXPECT_FALSE(type.is_audio);
}

// Close ends a read blocked on a silent server at once, during the open and during play.
TEST(FfmpegReaderTest, CloseInterruptsAStalledRead) {
  const std::string body = test::ReadFileBytes(test::TestMediaPath(TestMedia::kMp3Cbr128));
  for (std::int64_t stall_after : {std::int64_t{0}, std::int64_t{24000}}) {
    SCOPED_TRACE(stall_after);
    test::MediaPeer peer(body, {.stall_after = stall_after});
    Collector collector;
    auto reader = CreateMediaReader(AddressOrigin::kNetwork);
    ASSERT_EQ(reader->Open(peer.Url("song.mp3"), &collector), kReaderOk);
    if (stall_after > 0) {
      ASSERT_TRUE(collector.WaitForStatus(ReaderStatus::kOpened, 10s));
      ASSERT_EQ(reader->Start(1.0f), kReaderOk);
      ASSERT_TRUE(collector.WaitForBytes(1, 10s));
    } else {
      for (int wait = 0; wait < 1000 && peer.Requests() == 0; ++wait)
        std::this_thread::sleep_for(5ms);
      ASSERT_EQ(peer.Requests(), 1);
    }
    const auto before = std::chrono::steady_clock::now();
    reader->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_FALSE(collector.Has(ReaderStatus::kEndOfFile));
  }
}

// With nobody consuming, the reader stops at about the hold-back limit instead of decoding the
// whole song into memory; it goes on once the consumer is down to the resume mark, not at the
// first block consumed, and goes on to the end once the blocks are consumed.
TEST(FfmpegReaderTest, HoldsBackWhileBlocksWaitAndGoesOnWhenConsumed) {
  const std::string path = test::TestMediaPath(TestMedia::kWav16Stereo, 40);
  Opened opened;
  opened.collector.SetConsume(false);
  OpenAndStart(opened, path, AddressOrigin::kUser);
  ASSERT_TRUE(opened.collector.WaitForBytes(MediaReader::kHoldBackBytes, 10s));
  // The reader may finish the block in hand; give it time to overshoot if it did not stop.
  std::this_thread::sleep_for(300ms);
  const std::size_t held = opened.collector.Pcm().size();
  EXPECT_LT(held, MediaReader::kHoldBackBytes + 256 * 1024);
  EXPECT_FALSE(opened.collector.Has(ReaderStatus::kEndOfFile));

  constexpr std::size_t kMargin = 64 * 1024;
  opened.collector.Release(held - MediaReader::kResumeBytes - kMargin);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(opened.collector.Pcm().size(), held) << "still above the resume mark";
  opened.collector.Release(2 * kMargin);
  ASSERT_TRUE(opened.collector.WaitForBytes(
      held + MediaReader::kHoldBackBytes - MediaReader::kResumeBytes, 10s))
      << "below it, the reader fills up to the hold-back limit again";

  opened.collector.SetConsume(true);
  ASSERT_TRUE(opened.collector.WaitForEnd(30s));
  EXPECT_EQ(opened.collector.Pcm().size(), test::ToolPcm(path).size());
}

// A connection dropped mid-song is reopened at the byte where it broke (HTTP Range), and the
// song decodes whole; a server that refuses the reconnect ends the stream.
TEST(FfmpegReaderTest, ReconnectsAfterADroppedConnection) {
  const std::string path = test::TestMediaPath(TestMedia::kMp3Cbr128);
  const std::string body = test::ReadFileBytes(path);
  {
    test::MediaPeer peer(body, {.drop_after = static_cast<std::int64_t>(body.size() / 3)});
    Opened opened;
    OpenAndStart(opened, peer.Url("song.mp3"), AddressOrigin::kNetwork);
    ASSERT_TRUE(opened.collector.WaitForEnd(30s));
    EXPECT_TRUE(opened.collector.Has(ReaderStatus::kEndOfFile));
    EXPECT_TRUE(opened.collector.Pcm() == test::ToolPcm(path));
    ASSERT_FALSE(peer.RangeStarts().empty());
    EXPECT_GT(peer.RangeStarts().back(), 0);
  }
  {
    test::MediaPeer peer(
        body, {.drop_after = static_cast<std::int64_t>(body.size() / 3), .refuse_reconnect = true});
    Opened opened;
    OpenAndStart(opened, peer.Url("song.mp3"), AddressOrigin::kNetwork, 1500ms);
    ASSERT_TRUE(opened.collector.WaitForEnd(30s));
    EXPECT_LT(opened.collector.Pcm().size(), test::ToolPcm(path).size());
    EXPECT_EQ(opened.collector.Failure(), kReaderReconnectTimedOut);
  }
}

// A pause longer than the server's patience: the server drops the idle connection, and on
// resume the reader reconnects where it stopped.
TEST(FfmpegReaderTest, ResumesAfterTheServerDroppedAPausedStream) {
  const std::string path = test::TestMediaPath(TestMedia::kWav16Stereo, 90);
  test::NginxServer nginx("send_timeout 1s;", test::TestMediaFolder());
  Opened opened;
  opened.collector.SetConsume(false);
  OpenAndStart(opened, nginx.Url("/" + test::TestMediaFileName(TestMedia::kWav16Stereo, 90)),
               AddressOrigin::kNetwork);
  ASSERT_TRUE(opened.collector.WaitForBytes(MediaReader::kHoldBackBytes, 10s));
  std::this_thread::sleep_for(2500ms);  // the pause; nginx gives up on the connection
  opened.collector.SetConsume(true);
  ASSERT_TRUE(opened.collector.WaitForEnd(60s));
  EXPECT_TRUE(opened.collector.Has(ReaderStatus::kEndOfFile));
  EXPECT_TRUE(opened.collector.Pcm() == test::ToolPcm(path));
}

}  // namespace
}  // namespace djkivo
