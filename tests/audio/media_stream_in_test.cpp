// The stream input: the open steps and their failures, the block queue and its waits (with the
// scripted fake reader), and whole songs through the FFmpeg reader from files, nginx and a
// stalling peer, compared with what the ffmpeg tool decodes.
#include "audio/media_stream_in.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_error.h"
#include "base/main_thread.h"
#include "tests/support/fake_reader.h"
#include "tests/support/media_peer.h"
#include "tests/support/nginx_server.h"
#include "tests/support/poll.h"
#include "tests/support/test_audio_stages.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using test::FakeMediaReader;
using test::FakeReaderLog;
using test::FakeReaderScript;
using test::TestMedia;

constexpr std::uint64_t kSecond = 10'000'000;  // 100-ns units
const ReaderMediaType kStereo16{true, 2, 44100, 16};
const ReaderMediaType kVideo{false, 0, 0, 0};

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

class StreamInTest : public ::testing::Test {
 protected:
  StreamInTest() { MainThread::Install(&main_); }
  ~StreamInTest() override {
    input_.reset();
    MainThread::Install(nullptr);
  }

  // The input plays the fake reader's script; the log shows what the input asked of it.
  void UseFake(FakeReaderScript script) {
    input_->SetReaderFactory(
        [this, script](AddressOrigin) { return std::make_unique<FakeMediaReader>(script, log_); });
    input_->SetFileName("http://127.0.0.1:9/song.mp3");
  }

  std::string OpenMessage() { return test::OpenMessage(*input_); }
  std::string ReadAll(std::uint32_t request = 65536) { return test::ReadAll(*input_, request); }

  QueueMainThread main_;
  std::shared_ptr<FakeReaderLog> log_ = std::make_shared<FakeReaderLog>();
  std::unique_ptr<TMediaStreamIn> input_ = std::make_unique<TMediaStreamIn>();
};

TEST_F(StreamInTest, BufferingTimeSetterKeepsOneToSixty) {
  EXPECT_EQ(input_->BufferingTime(), 2);
  const struct {
    std::uint16_t set;
    std::uint16_t expected;
  } kCases[] = {{0, 2}, {61, 2}, {60, 60}, {1, 1}, {65535, 1}};
  for (const auto& c : kCases) {
    input_->SetBufferingTime(c.set);
    EXPECT_EQ(input_->BufferingTime(), c.expected) << c.set;
  }
}

// Each failing step of the open, with its message, and whether OnStreamOpened still comes.
TEST_F(StreamInTest, OpenFailuresCarryTheirMessages) {
  const struct {
    const char* name;
    void (*script)(FakeReaderScript&, TMediaStreamIn&);
    const char* message;
    bool posts_opened;
  } kCases[] = {
      {"refused", [](FakeReaderScript& s, TMediaStreamIn&) { s.open_result = -5; }, "Result -5",
       false},
      {"buffering", [](FakeReaderScript& s, TMediaStreamIn&) { s.buffering_result = -1; },
       "Failed seting buffering.", false},
      {"logging",
       [](FakeReaderScript& s, TMediaStreamIn& in) {
         s.logging_result = -1;
         in.SetLoggingURL("http://127.0.0.1:9/log");
       },
       "Canoot add a logging URL", false},
      {"start",
       [](FakeReaderScript& s, TMediaStreamIn&) { s.start_result = static_cast<int>(0x80004005u); },
       "Result 80004005", false},
      {"opened with failure", [](FakeReaderScript& s, TMediaStreamIn&) { s.opened_result = -2; },
       "", true},
      {"no answer",
       [](FakeReaderScript& s, TMediaStreamIn& in) {
         s.report_opened = false;
         in.SetMaxWaitMilliseconds(200);
       },
       "", true},
      {"no output count", [](FakeReaderScript& s, TMediaStreamIn&) { s.output_count_result = -3; },
       "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    input_ = std::make_unique<TMediaStreamIn>();
    int opened_events = 0;
    input_->SetOnStreamOpened([&](TComponent*) { ++opened_events; });
    FakeReaderScript script;
    script.outputs = {kStereo16};
    c.script(script, *input_);
    UseFake(script);
    EXPECT_EQ(OpenMessage(), c.message);
    EXPECT_FALSE(input_->Busy());
    main_.PumpUntil([&] { return opened_events > 0; }, c.posts_opened ? 5000ms : 100ms);
    EXPECT_EQ(opened_events, c.posts_opened ? 1 : 0);
  }
}

// Stopping the chain while the reader has not answered the open (a server that never sends its
// head) ends the open at once, as an open without an answer, instead of at MaxWait.
TEST_F(StreamInTest, CancelReadEndsAnOpenStillWaitingForTheReader) {
  FakeReaderScript script;
  script.outputs = {kStereo16};
  script.report_opened = false;
  UseFake(script);
  input_->SetMaxWaitMilliseconds(60000);
  std::string message = "(still opening)";
  std::thread opener([&] { message = OpenMessage(); });
  const auto asked = [&] {
    std::lock_guard lock(log_->mutex);
    return !log_->address.empty();
  };
  test::PollUntil(asked, 5s);
  const auto cancelled = std::chrono::steady_clock::now();
  input_->CancelRead();
  opener.join();
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 5s);
  EXPECT_EQ(message, "");
  EXPECT_FALSE(input_->Busy());
}

// A stop that lands after the output's thread checked for one but before the stream opens (the
// cancel comes first, the open after it) ends that open at once instead of waiting out MaxWait;
// the next run's ResetCancel lets the stream open again.
TEST_F(StreamInTest, ACancelBeforeTheOpenIsNotLost) {
  FakeReaderScript script;
  script.outputs = {kStereo16};
  script.report_opened = false;
  UseFake(script);
  input_->SetMaxWaitMilliseconds(60000);
  input_->CancelRead();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenMessage(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  EXPECT_FALSE(input_->Busy());
  input_->Close();
  input_->ResetCancel();
  UseFake({.outputs = {kStereo16}});
  EXPECT_EQ(OpenMessage(), "(opened)");
}

TEST_F(StreamInTest, EmptyAddressMessagesDependOnTheWayIn) {
  EXPECT_EQ(OpenMessage(), "The file name is not assigned");
  try {
    input_->SampleRate();
    ADD_FAILURE() << "no failure";
  } catch (const EAudioError& error) {
    EXPECT_STREQ(error.what(), "File name or URL is not assigned");
  }
}

// What the input hands the reader: only what is set, in the reader's units; and at close the
// log list is reset and the reader stopped and closed.
TEST_F(StreamInTest, PropertiesReachTheReader) {
  input_->SetEnableHTTP(true);
  input_->SetEnableUDP(true);
  input_->SetProxyProtocol("http");
  input_->SetProxyHost("proxy.local");
  input_->SetProxyPort(3128);
  input_->SetLoggingURL("http://127.0.0.1:9/log");
  input_->SetStretchFactor(1.5f);
  input_->SetBufferingTime(5);
  UseFake({.outputs = {kStereo16}});
  ASSERT_EQ(OpenMessage(), "(opened)");
  input_->Close();
  std::lock_guard lock(log_->mutex);
  EXPECT_TRUE(log_->enable_http);
  EXPECT_FALSE(log_->enable_tcp);
  EXPECT_TRUE(log_->enable_udp);
  EXPECT_EQ(log_->proxy_protocol, "http");
  EXPECT_EQ(log_->proxy_host, "proxy.local");
  EXPECT_EQ(log_->proxy_port, 3128u);
  EXPECT_EQ(log_->logging_urls, std::vector<std::string>{"http://127.0.0.1:9/log"});
  EXPECT_EQ(log_->buffering_span, 5 * kSecond);
  EXPECT_EQ(log_->rate, 1.5f);
  EXPECT_EQ(log_->address, "http://127.0.0.1:9/song.mp3");
  EXPECT_EQ(log_->logging_resets, 1);
  EXPECT_EQ(log_->stops, 1);
  EXPECT_EQ(log_->closes, 1);
}

// Duration rounds to the nearest second; the size comes from the declared duration itself
// (rounded up to a whole frame), so the end of a song is not cut; without one the length is
// unknown.
TEST_F(StreamInTest, DurationGivesTotalTimeAndSize) {
  const struct {
    std::optional<std::uint64_t> duration;
    std::int64_t seconds;
    std::int64_t frames;  // -1: unknown
  } kCases[] = {
      {2'254'999'999, 225, 9'944'550},  // 9,944,549.99559 frames of 44.1 kHz
      {2'255'000'001, 226, 9'944'551},
      {2 * kSecond, 2, 88'200},
      {std::nullopt, 0, -1},
  };
  for (const auto& c : kCases) {
    input_ = std::make_unique<TMediaStreamIn>();
    UseFake({.outputs = {kStereo16}, .duration = c.duration, .bitrate = 128000});
    EXPECT_EQ(input_->TotalTime(), static_cast<std::uint32_t>(c.seconds));  // opens the source
    EXPECT_EQ(input_->Duration(), c.seconds);
    EXPECT_EQ(input_->Size(), c.frames < 0 ? -1 : c.frames * 4);
    EXPECT_EQ(input_->TotalSamples(), c.frames);
    EXPECT_EQ(input_->Bitrate(), 128000u);
    EXPECT_FALSE(input_->Seekable());
    EXPECT_TRUE(input_->Valid());
  }
}

// The display's length never opens the stream: not before an open, not after a close (when a
// late tick would otherwise reopen the address on the window's thread). TotalTime, a format
// getter, does open it.
TEST_F(StreamInTest, DurationNeverOpensTheStream) {
  int readers = 0;
  input_->SetReaderFactory([&](AddressOrigin) {
    ++readers;
    return std::make_unique<FakeMediaReader>(
        FakeReaderScript{.outputs = {kStereo16}, .duration = 245 * kSecond}, log_);
  });
  input_->SetFileName("http://127.0.0.1:9/song.mp3");
  EXPECT_EQ(input_->Duration(), 0);
  EXPECT_EQ(readers, 0);
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_EQ(input_->Duration(), 245);
  input_->Close();
  EXPECT_EQ(input_->Duration(), 245) << "the last song's length stays for the display";
  EXPECT_EQ(readers, 1);
  EXPECT_EQ(input_->TotalTime(), 245u);
  EXPECT_EQ(readers, 2) << "TotalTime opens, as every format getter does";
}

// Of two audio outputs the last wins: its format, and only its blocks.
TEST_F(StreamInTest, LastAudioOutputWins) {
  FakeReaderScript script;
  script.outputs = {kStereo16, kVideo, ReaderMediaType{true, 1, 22050, 16}};
  script.blocks = {{0, Bytes(100, 0)}, {2, Bytes(50, 1)}, {1, Bytes(10, 9)}, {2, Bytes(30, 7)}};
  UseFake(script);
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_EQ(input_->SampleRate(), 22050u);
  EXPECT_EQ(input_->Channels(), 1u);
  std::vector<std::uint8_t> expected = Bytes(50, 1);
  const std::vector<std::uint8_t> second = Bytes(30, 7);
  expected.insert(expected.end(), second.begin(), second.end());
  const std::string got = ReadAll();
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.end()), expected);
  std::lock_guard lock(log_->mutex);
  EXPECT_EQ(log_->consumed, 80u);  // freed blocks are reported for the reader's hold-back
}

// One block per call: a small request takes a piece (a pointer into the block, no copy), a
// large one only the rest of the head block; blocks are never merged.
TEST_F(StreamInTest, ReadsHandOutOneBlockAtMostWithoutCopying) {
  UseFake({.outputs = {kStereo16}, .blocks = {{0, Bytes(1000, 0)}, {0, Bytes(500, 3)}}});
  ASSERT_EQ(OpenMessage(), "(opened)");
  int started = 0;
  input_->SetOnStartedPlaying([&](TComponent*) { ++started; });
  const std::uint32_t kRequests[] = {300, 10000, 10000, 10000};
  const std::uint32_t kExpected[] = {300, 700, 500, 0};
  std::uint8_t* previous = nullptr;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = kRequests[i];
    input_->GetData(buffer, bytes);
    EXPECT_EQ(bytes, kExpected[i]) << i;
    if (i == 1) {
      EXPECT_EQ(buffer, previous + 300);  // the same block, right after the first piece
    }
    previous = buffer;
  }
  EXPECT_TRUE(main_.PumpUntil([&] { return started > 0; }, 5000ms));
  main_.Pump(50ms);
  EXPECT_EQ(started, 1);
}

// How a stream ends, and what it says of it: at the end of file at once (not after a wait),
// after MaxWait without a block, at once for a closed reader, after a reconnect the reader gave
// up, and when the read is cancelled (during a stall or a reconnect). A stop is no failure.
TEST_F(StreamInTest, EndsOfStream) {
  const struct {
    const char* name;
    FakeReaderScript::End end;
    std::uint32_t max_wait;
    bool cancel;
    const char* failure;
  } kCases[] = {
      {"end of file", FakeReaderScript::End::kEndOfFile, 30000, false, ""},
      {"closed", FakeReaderScript::End::kClosed, 30000, false,
       "The stream ended early: fake failure -5"},
      {"stall", FakeReaderScript::End::kStall, 300, false,
       "The stream ended early: it sent nothing for 1 s"},
      {"given up", FakeReaderScript::End::kGiveUp, 100, false,
       "The stream ended early: the connection did not come back in time"},
      {"cancelled stall", FakeReaderScript::End::kStall, 30000, true, ""},
      {"cancelled reconnect", FakeReaderScript::End::kGiveUp, 100, true, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    input_ = std::make_unique<TMediaStreamIn>();
    input_->SetMaxWaitMilliseconds(c.max_wait);
    UseFake({.outputs = {kStereo16},
             .blocks = {{0, Bytes(64, 0)}},
             .end = c.end,
             .give_up_after = c.cancel ? 60s : 500ms});
    ASSERT_EQ(OpenMessage(), "(opened)");
    std::thread canceller;
    if (c.cancel)
      canceller = std::thread([this] {
        std::this_thread::sleep_for(200ms);
        input_->CancelRead();
      });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAll().size(), 64u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    EXPECT_TRUE(input_->AtEnd());
    EXPECT_EQ(input_->Failure(), c.failure);
    if (canceller.joinable())
      canceller.join();
    input_->Close();
    EXPECT_FALSE(input_->Reconnecting());
  }
}

// While the reader rides out a drop the wait for a block does not run out: the stream shows
// it is reconnecting (and says so on the main thread as it starts and ends), and goes on with
// the next block when the reader is back, however long past MaxWait that is.
TEST_F(StreamInTest, AReconnectHoldsTheStreamPastMaxWait) {
  input_->SetMaxWaitMilliseconds(200);
  input_->SetReconnectTime(90s);
  UseFake({.outputs = {kStereo16}, .blocks = {{0, Bytes(64, 0)}, {0, Bytes(32, 100), 1500ms}}});
  int events = 0;
  input_->SetOnReconnect([&](TComponent*) { ++events; });
  ASSERT_EQ(OpenMessage(), "(opened)");
  std::atomic<bool> shown{false};
  std::thread watcher(
      [&] { shown = test::PollUntil([&] { return input_->Reconnecting(); }, 10s); });
  EXPECT_EQ(ReadAll().size(), 96u);
  watcher.join();
  EXPECT_TRUE(shown);
  EXPECT_FALSE(input_->Reconnecting());
  EXPECT_EQ(input_->Failure(), "");
  EXPECT_TRUE(main_.PumpUntil([&] { return events == 2; }, 5000ms))
      << "one as it starts, one as it ends";
  std::lock_guard lock(log_->mutex);
  EXPECT_EQ(log_->reconnect_time, 90s);
}

// The desktop reports the network back: the reconnect tries at once instead of waiting out its
// back-off.
TEST_F(StreamInTest, RetryNowCutsTheReconnectWaitShort) {
  UseFake({.outputs = {kStereo16}, .blocks = {{0, Bytes(64, 0)}, {0, Bytes(32, 100), 60s}}});
  ASSERT_EQ(OpenMessage(), "(opened)");
  std::thread retry([this] {
    test::PollUntil([this] { return input_->Reconnecting(); }, 10s);
    input_->RetryNow();
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadAll().size(), 96u);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
  retry.join();
  std::lock_guard lock(log_->mutex);
  EXPECT_EQ(log_->retries, 1);
}

// With Loop set the end of the stream reopens the address and plays it again.
TEST_F(StreamInTest, LoopReopensTheAddress) {
  UseFake({.outputs = {kStereo16}, .blocks = {{0, Bytes(64, 0)}, {0, Bytes(32, 100)}}});
  input_->SetLoop(true);
  ASSERT_EQ(OpenMessage(), "(opened)");
  std::string got;
  while (got.size() < 96 * 3) {
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = 1000;
    input_->GetData(buffer, bytes);
    ASSERT_GT(bytes, 0u);
    got.append(reinterpret_cast<const char*>(buffer), bytes);
  }
  EXPECT_EQ(got.substr(0, 96), got.substr(96, 96));
  EXPECT_EQ(got.substr(0, 96), got.substr(192, 96));
  input_->Close();
  std::lock_guard lock(log_->mutex);
  EXPECT_GE(log_->closes, 2);
}

TEST_F(StreamInTest, StreamWithoutAudioOpensInvalidAndReadsNothing) {
  UseFake({.outputs = {kVideo}, .blocks = {{0, Bytes(64, 0)}}});
  input_->SetMaxWaitMilliseconds(30000);
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_FALSE(input_->Valid());
  EXPECT_EQ(input_->SampleRate(), 8000u);
  EXPECT_EQ(input_->BitsPerSample(), 8u);
  EXPECT_EQ(input_->Channels(), 1u);
  EXPECT_EQ(input_->Size(), 0);
  EXPECT_EQ(ReadAll(), "");
}

TEST_F(StreamInTest, PauseAndResumeReachTheReader) {
  UseFake({.outputs = {kStereo16}, .end = FakeReaderScript::End::kStall});
  ASSERT_EQ(OpenMessage(), "(opened)");
  input_->PauseInput();
  input_->ResumeInput();
  std::lock_guard lock(log_->mutex);
  EXPECT_EQ(log_->pauses, 1);
  EXPECT_EQ(log_->resumes, 1);
}

// --- The FFmpeg reader underneath.

struct SongCase {
  TestMedia media;
  std::uint32_t rate;
  std::uint32_t channels;
};

class SongTest : public StreamInTest, public ::testing::WithParamInterface<SongCase> {};

// A whole song from a file: its format and length, and the PCM the tool decodes, cut where
// the declared duration ends.
TEST_P(SongTest, PlaysLikeTheTool) {
  const SongCase& song = GetParam();
  const std::string path = test::TestMediaPath(song.media);
  input_->SetOrigin(AddressOrigin::kUser);
  input_->SetFileName(path);
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_EQ(input_->SampleRate(), song.rate);
  EXPECT_EQ(input_->Channels(), song.channels);
  EXPECT_EQ(input_->BitsPerSample(), 16u);
  EXPECT_EQ(input_->TotalTime(), static_cast<std::uint32_t>(test::kTestMediaSeconds));
  // The size is the container's own estimate of the length (MP3 counts its encoder padding).
  const std::int64_t per_second = std::int64_t{song.rate} * song.channels * 2;
  const std::int64_t size = input_->Size();
  EXPECT_NEAR(static_cast<double>(size), static_cast<double>(test::kTestMediaSeconds * per_second),
              0.1 * per_second);
  const std::string ours = ReadAll(4096);
  const std::string tool = test::ToolPcm(path);
  EXPECT_EQ(ours.size(), std::min<std::size_t>(tool.size(), size));
  EXPECT_TRUE(ours == tool.substr(0, ours.size()));
  input_->Close();
}

INSTANTIATE_TEST_SUITE_P(Files, SongTest,
                         ::testing::Values(SongCase{TestMedia::kMp3Cbr128, 44100, 2},
                                           SongCase{TestMedia::kMp3Vbr, 44100, 2},
                                           SongCase{TestMedia::kWma, 44100, 2},
                                           SongCase{TestMedia::kOggVorbis, 44100, 2},
                                           SongCase{TestMedia::kWav8Mono, 11025, 1},
                                           SongCase{TestMedia::kWav16Stereo, 44100, 2}));

// A VBR MP3 without a Xing or VBRI header: FFmpeg guesses its length from the first frames' bit
// rate, here far short of the real one. The guess is shown (TotalTime, Size) but does not cut the
// song: it plays to its real end, as the tool decodes it. Before, it ended at the guess.
TEST_F(StreamInTest, AGuessedLengthDoesNotCutTheSong) {
  const std::string path = test::TestMediaPath(TestMedia::kMp3VbrNoXing, 8);
  input_->SetOrigin(AddressOrigin::kUser);
  input_->SetFileName(path);
  ASSERT_EQ(OpenMessage(), "(opened)");
  const std::string tool = test::ToolPcm(path);
  ASSERT_LT(input_->Size(), static_cast<std::int64_t>(tool.size()) * 3 / 4)
      << "the file's guessed length should be far short of the real one";
  EXPECT_GT(input_->TotalTime(), 0u);
  EXPECT_LT(input_->TotalTime(), 8u);
  const std::string ours = ReadAll(4096);
  EXPECT_EQ(ours.size(), tool.size());
  EXPECT_TRUE(ours == tool);
}

TEST_F(StreamInTest, FilesThatAreNotSongs) {
  input_->SetOrigin(AddressOrigin::kUser);
  input_->SetFileName(test::TestMediaPath(TestMedia::kVideoOnly));
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_FALSE(input_->Valid());
  EXPECT_EQ(ReadAll(), "");
  input_->Close();

  input_->SetFileName(test::TestMediaPath(TestMedia::kRandomBytes));
  EXPECT_EQ(OpenMessage(), "");
  // A page's address may not name a local file.
  input_->SetOrigin(AddressOrigin::kNetwork);
  input_->SetFileName(test::TestMediaPath(TestMedia::kWav16Mono));
  EXPECT_EQ(OpenMessage(), "Result -1");
}

TEST_F(StreamInTest, SongsFromNginx) {
  for (TestMedia media : {TestMedia::kMp3Cbr128, TestMedia::kWma})
    test::TestMediaPath(media);
  test::NginxServer nginx("", test::TestMediaFolder());
  for (TestMedia media : {TestMedia::kMp3Cbr128, TestMedia::kWma}) {
    SCOPED_TRACE(test::TestMediaFileName(media));
    input_->SetFileName(nginx.Url("/" + test::TestMediaFileName(media)));
    ASSERT_EQ(OpenMessage(), "(opened)");
    EXPECT_EQ(input_->TotalTime(), static_cast<std::uint32_t>(test::kTestMediaSeconds));
    const std::string ours = ReadAll();
    const std::string tool = test::ToolPcm(test::TestMediaPath(media));
    EXPECT_GT(ours.size(), tool.size() * 9 / 10);
    EXPECT_TRUE(ours == tool.substr(0, ours.size()));
    input_->Close();
  }
  int opened_events = 0;
  input_->SetOnStreamOpened([&](TComponent*) { ++opened_events; });
  input_->SetFileName(nginx.Url("/missing.mp3"));
  EXPECT_EQ(OpenMessage(), "");
  EXPECT_TRUE(main_.PumpUntil([&] { return opened_events == 1; }, 5000ms));
}

// The proxy settings reach FFmpeg: the song comes through the proxy (a peer that answers any
// request with it), though nothing listens at the song's own address.
TEST_F(StreamInTest, SongThroughAnHttpProxy) {
  std::ifstream in(test::TestMediaPath(TestMedia::kMp3Cbr128), std::ios::binary);
  const std::string body(std::istreambuf_iterator<char>(in), {});
  test::MediaPeer proxy(body, {});
  input_->SetProxyProtocol("http");
  input_->SetProxyHost("127.0.0.1");
  input_->SetProxyPort(static_cast<std::uint32_t>(proxy.Port()));
  input_->SetFileName("http://127.0.0.1:9/song.mp3");
  ASSERT_EQ(OpenMessage(), "(opened)");
  EXPECT_TRUE(ReadAll() == test::ToolPcm(test::TestMediaPath(TestMedia::kMp3Cbr128)));
  EXPECT_GE(proxy.Requests(), 1);
}

// A server that stops sending mid-song: the stream ends after MaxWait with what came, and
// closing it does not wait for the silent server.
TEST_F(StreamInTest, StalledServerEndsTheStreamAfterMaxWait) {
  std::ifstream in(test::TestMediaPath(TestMedia::kMp3Cbr128), std::ios::binary);
  const std::string body(std::istreambuf_iterator<char>(in), {});
  test::MediaPeer peer(body, {.stall_after = static_cast<std::int64_t>(body.size() / 2)});
  input_->SetMaxWaitMilliseconds(700);
  input_->SetBufferingTime(1);
  input_->SetFileName(peer.Url("song.mp3"));
  ASSERT_EQ(OpenMessage(), "(opened)");
  const std::string got = ReadAll();
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(static_cast<std::int64_t>(got.size()), input_->Size());
  EXPECT_TRUE(input_->AtEnd());
  const auto before = std::chrono::steady_clock::now();
  input_->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

}  // namespace
}  // namespace djkivo
