// Covers audio/audio_cache and audio_cache_thread: the fill rule for live and known-size
// streams, the request cap, Position past Size, failures and stalls of the source, a long pause
// of the output, and the whole chain end to end.
#include "audio/audio_cache.h"

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_error.h"
#include "base/main_thread.h"
#include "tests/support/poll.h"
#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using test::TClockOutput;
using test::TMemoryPcmSource;

constexpr auto kLong = 10s;
constexpr std::uint32_t kRing = TAudioCacheThread::kRingCapacity;
constexpr std::uint32_t kMinimum = TAudioCacheThread::kMinimumChunk;
constexpr std::uint32_t kChunk = TAudioCacheThread::kChunkLimit;

// The source hands out large blocks, as the stream input's reader does.
constexpr std::uint32_t kBlock = 65536;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = kLong) {
  return test::PollUntil(done, timeout);
}

// Waits until the fill thread has stopped reading (a while without a byte), returning what it
// read. A pass that adds data follows the room freed for it at once, not the pause.
std::uint64_t SettledReads(const TMemoryPcmSource& source) {
  std::uint64_t seen = source.bytes_read();
  for (int quiet = 0; quiet < 8;) {
    std::this_thread::sleep_for(200ms);
    const std::uint64_t now = source.bytes_read();
    quiet = now == seen ? quiet + 1 : 0;
    seen = now;
  }
  return seen;
}

// Reads `count` bytes out of the cache, checking the pattern from `offset` on.
std::uint64_t Pull(TAudioCache& cache, std::uint64_t offset, std::uint64_t count,
                   std::uint32_t ask = 100000) {
  while (count > 0) {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(ask, count));
    cache.GetData(block, bytes);
    EXPECT_GT(bytes, 0u);
    if (bytes == 0)
      break;
    EXPECT_EQ(test::FindPatternMismatch(block, bytes, offset), -1) << "at " << offset;
    offset += bytes;
    count -= bytes;
  }
  return offset;
}

TEST(AudioCacheTest, ALiveStreamIsToppedUpWheneverMoreThanTheMinimumIsFree) {
  TMemoryPcmSource source(test::MemorySource(64 << 20, -1, kBlock));
  TAudioCache cache;
  cache.SetInput(&source);
  cache.Open();
  EXPECT_EQ(cache.Size(), -1);
  std::uint64_t read = SettledReads(source);
  EXPECT_GE(read, kRing - kMinimum);
  EXPECT_LE(read, kRing);
  const std::uint64_t offset = Pull(cache, 0, kMinimum + 100000);
  read = SettledReads(source);
  EXPECT_GE(read, offset + kRing - kMinimum) << "the freed space was filled again";
  EXPECT_LE(read, offset + kRing);
  cache.Close();
  EXPECT_FALSE(source.Busy());
}

TEST(AudioCacheTest, AKnownSizeStreamThatFitsWaitsUntilTheBufferRunsLow) {
  TMemoryPcmSource source(test::MemorySource(4 << 20, -2, kBlock));
  TAudioCache cache;
  cache.SetInput(&source);
  cache.Open();
  EXPECT_EQ(cache.Size(), 4 << 20);
  // Two passes: the first leaves exactly the low-water free space, the second stops there
  // because the unread rest fits in what is free.
  EXPECT_EQ(SettledReads(source), 2u * kChunk);
  std::uint64_t offset = Pull(cache, 0, kChunk - 4);  // 4 bytes more than 768 KiB buffered
  EXPECT_EQ(SettledReads(source), 2u * kChunk);
  offset = Pull(cache, offset, 4);
  EXPECT_EQ(SettledReads(source), 3u * kChunk) << "at 768 KiB or less buffered it refills";
  offset = Pull(cache, offset, (4 << 20) - offset);
  std::uint8_t* block = nullptr;
  std::uint32_t bytes = 4096;
  cache.GetData(block, bytes);
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(cache.AtEnd());
  cache.Close();
}

TEST(AudioCacheTest, AStreamLongerThanItsSizeIsDeliveredWholeAndPositionRestarts) {
  auto config = test::MemorySource(3 << 20, 2 << 20, kBlock);
  config.end_at_size = false;
  TMemoryPcmSource source(config);
  TAudioCache cache;
  cache.SetInput(&source);
  cache.Open();
  std::uint64_t offset = 0;
  std::int64_t expected_position = 0;
  for (;;) {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = 100000;
    cache.GetData(block, bytes);
    if (bytes == 0)
      break;
    EXPECT_EQ(test::FindPatternMismatch(block, bytes, offset), -1);
    offset += bytes;
    if (expected_position + bytes > (2 << 20))
      expected_position = 0;
    expected_position += bytes;
    EXPECT_EQ(cache.Position(), expected_position);
  }
  EXPECT_EQ(offset, 3u << 20) << "nothing is cut at the estimated size";
  cache.Close();
}

TEST(AudioCacheTest, ALargeRequestIsCutToWholeFramesOfTheChunkLimit) {
  struct Case {
    std::uint32_t bits, channels, expected;
  };
  const Case cases[] = {{16, 2, 786432}, {16, 5, 786430}, {8, 3, 786432}, {16, 7, 786422}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels);
    auto config = test::MemorySource(16 << 20, -2, kBlock);
    config.bits = c.bits;
    config.channels = c.channels;
    TMemoryPcmSource source(config);
    TAudioCache cache;
    cache.SetInput(&source);
    cache.Open();
    ASSERT_TRUE(WaitFor([&] { return source.bytes_read() >= 2u * kChunk; }));
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = 1000000;
    cache.GetData(block, bytes);
    EXPECT_EQ(bytes, c.expected);
    cache.Close();
  }
}

TEST(AudioCacheTest, OpeningFailures) {
  TAudioCache cache;
  try {
    cache.Open();
    FAIL();
  } catch (const EAudioError& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
  auto config = test::MemorySource(1000, -2, kBlock);
  config.fail_open = "no such stream";
  TMemoryPcmSource source(config);
  cache.SetInput(&source);
  try {
    cache.Open();
    FAIL();
  } catch (const EAudioError& e) {
    EXPECT_STREQ(e.what(), "no such stream");
  }
  cache.Close();
}

TEST(AudioCacheTest, AFailingSourceEndsTheStreamAfterWhatWasBuffered) {
  auto config = test::MemorySource(16 << 20, -1, kBlock);
  config.fail_read_at = 1 << 20;
  TMemoryPcmSource source(config);
  TAudioCache cache;
  cache.SetInput(&source);
  cache.Open();
  const std::uint64_t offset = Pull(cache, 0, 1 << 20);
  std::uint8_t* block = nullptr;
  std::uint32_t bytes = 4096;
  cache.GetData(block, bytes);
  EXPECT_EQ(bytes, 0u) << "the read that failed ends the stream";
  EXPECT_EQ(offset, 1u << 20);
  cache.Close();
  EXPECT_FALSE(source.Busy());
}

TEST(AudioCacheTest, ClosingWhileTheSourceStallsEndsWithTheStall) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel);
    auto config = test::MemorySource(16 << 20, -1, kBlock);
    config.stall_at = 1 << 20;
    // Without a cancel the close waits for the source's own limit; with one it must not.
    config.stall_limit = cancel ? 120s : 200ms;
    TMemoryPcmSource source(config);
    TAudioCache cache;
    cache.SetInput(&source);
    cache.Open();
    ASSERT_TRUE(source.WaitStalled(kLong));
    if (cancel)
      cache.CancelRead();
    const auto started = std::chrono::steady_clock::now();
    cache.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_FALSE(source.Busy());
  }
}

TEST(AudioCacheTest, JumpDoesNothingOnceTheSourceHasEnded) {
  TMemoryPcmSource source(test::MemorySource(1 << 20, -2, kBlock));
  TAudioCache cache;
  cache.SetInput(&source);
  cache.Open();
  ASSERT_TRUE(WaitFor([&] { return source.AtEnd(); }));
  SettledReads(source);
  cache.Jump(500);
  EXPECT_EQ(source.seeks(), 0);
  EXPECT_EQ(Pull(cache, 0, 1 << 20), 1u << 20) << "nothing buffered was dropped";
  cache.Close();
}

class AudioCacheChainTest : public ::testing::Test {
 protected:
  void SetUp() override { MainThread::Install(&main_); }
  void TearDown() override { MainThread::Install(nullptr); }
  QueueMainThread main_;
};

TEST_F(AudioCacheChainTest, ALongPauseFillsTheRingAndPlaybackResumesFromIt) {
  TMemoryPcmSource source(test::MemorySource(16 << 20, -1, kBlock));
  TAudioCache cache;
  cache.SetInput(&source);
  TClockOutput::Config config;
  config.block_bytes = 65536;
  TClockOutput output(config);
  output.SetInput(&cache);
  int done = 0;
  output.SetOnDone([&](TComponent*) { ++done; });
  output.Run();
  output.Pause();
  ASSERT_EQ(output.Status(), OutputStatus::kPaused);
  const std::uint64_t played = output.bytes();
  const std::uint64_t read = SettledReads(source);
  EXPECT_LE(read - played, kRing) << "the ring never holds more than its capacity";
  EXPECT_GE(read - played, kRing - kMinimum - 65536) << "a paused output lets the ring fill";
  output.Resume();
  ASSERT_TRUE(main_.PumpUntil([&] { return done == 1; }, kLong));
  EXPECT_EQ(output.bytes(), 16u << 20);
  EXPECT_EQ(output.mismatch_at(), -1);
  EXPECT_FALSE(source.Busy());
}

TEST_F(AudioCacheChainTest, StopWhileTheCacheWaitsOnAStalledSourceIsPrompt) {
  auto config = test::MemorySource(16 << 20, -1, kBlock);
  config.stall_at = 2 << 20;
  config.stall_limit = 120s;
  TMemoryPcmSource source(config);
  TAudioCache cache;
  cache.SetInput(&source);
  TClockOutput output(TClockOutput::Config{});
  output.SetInput(&cache);
  output.Run();
  ASSERT_TRUE(source.WaitStalled(kLong));
  ASSERT_TRUE(WaitFor([&] { return output.bytes() >= (2u << 20) - 65536; }));
  const auto started = std::chrono::steady_clock::now();
  output.Stop(false);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  EXPECT_FALSE(source.Busy());
  EXPECT_EQ(output.mismatch_at(), -1);
}

}  // namespace
}  // namespace djkivo
