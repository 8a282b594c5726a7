// Covers audio/circular_buffer: regions at every relative position of the counters, wrap,
// full/empty, end of data, discard, cancel, and a threaded writer/reader moving a pattern.
#include "audio/circular_buffer.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// Writes `count` bytes of the pattern from stream offset `offset`, through write regions.
std::uint64_t WritePattern(TCircularBuffer& ring, std::uint64_t offset, std::uint32_t count) {
  while (count > 0) {
    std::uint8_t* region = nullptr;
    std::uint32_t length = 0;
    ring.GetWriteRegion(region, length);
    EXPECT_GT(length, 0u);
    const std::uint32_t n = std::min(length, count);
    for (std::uint32_t i = 0; i < n; ++i)
      region[i] = test::PatternByte(offset + i);
    ring.CommitWrite(n);
    offset += n;
    count -= n;
  }
  return offset;
}

TEST(CircularBufferTest, RegionsFollowTheCounters) {
  struct Case {
    const char* name;
    std::uint32_t write_first;  // bytes committed
    std::uint32_t read_first;   // then read
    std::uint32_t write_then;   // then committed again
    std::uint32_t region;       // expected write region length
    std::uint32_t free;         // expected FreeSpace
  };
  const Case cases[] = {
      {"empty after reset", 0, 0, 0, 100, 100},
      {"reader behind writer", 30, 10, 0, 70, 80},
      {"full", 100, 0, 0, 0, 0},
      {"empty at an offset", 60, 60, 0, 40, 100},
      {"writer wrapped behind reader", 100, 50, 20, 30, 30},
      {"full after wrap", 100, 50, 50, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCircularBuffer ring(100);
    ring.Reset();
    std::uint64_t offset = WritePattern(ring, 0, c.write_first);
    std::vector<std::uint8_t> sink(100);
    std::uint32_t left = c.read_first;
    while (left > 0)
      left -= ring.Read(sink.data(), left);
    WritePattern(ring, offset, c.write_then);
    std::uint8_t* region = nullptr;
    std::uint32_t length = 0;
    ring.GetWriteRegion(region, length);
    EXPECT_EQ(length, c.region);
    EXPECT_EQ(ring.FreeSpace(), c.free);
  }
}

TEST(CircularBufferTest, ReadStopsAtTheEndOfTheAreaAndContinuesFromTheStart) {
  TCircularBuffer ring(100);
  ring.Reset();
  std::uint64_t offset = WritePattern(ring, 0, 80);
  std::vector<std::uint8_t> out(100);
  ASSERT_EQ(ring.Read(out.data(), 70), 70u);
  offset = WritePattern(ring, offset, 50);  // 10 bytes before the end, 40 after the start
  EXPECT_EQ(ring.Read(out.data(), 100), 30u) << "a read never crosses the end of the area";
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 30, 70), -1);
  EXPECT_EQ(ring.Read(out.data(), 100), 30u);
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 30, 100), -1);
  EXPECT_EQ(ring.ReadCount(), 130u);
}

TEST(CircularBufferTest, EndIsReportedOnlyOnceEverythingIsRead) {
  TCircularBuffer ring(64);
  ring.Reset();
  WritePattern(ring, 0, 40);
  ring.SetDataEnded(true);
  std::vector<std::uint8_t> out(64);
  EXPECT_EQ(ring.Read(out.data(), 25), 25u);
  EXPECT_EQ(ring.Read(out.data(), 25), 15u);
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 15, 25), -1);
  EXPECT_EQ(ring.Read(out.data(), 25), 0u);
  EXPECT_EQ(ring.ReadCount(), 0u) << "the end returns both counters to 0";
  EXPECT_EQ(ring.WriteCount(), 0u);
  EXPECT_EQ(ring.Read(out.data(), 25), 0u) << "and keeps answering the end";
}

TEST(CircularBufferTest, DiscardAndResetFreeTheWholeRing) {
  TCircularBuffer ring(64);
  ring.Reset();
  WritePattern(ring, 0, 50);
  ring.Discard();
  EXPECT_EQ(ring.FreeSpace(), 64u);
  WritePattern(ring, 50, 10);
  std::vector<std::uint8_t> out(64);
  EXPECT_EQ(ring.Read(out.data(), 64), 10u);
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 10, 50), -1) << "only data after the discard";
  WritePattern(ring, 60, 30);
  ring.SetDataEnded(true);
  ring.Reset();
  EXPECT_EQ(ring.FreeSpace(), 64u);
  EXPECT_FALSE(ring.DataEnded());
  std::uint8_t* region = nullptr;
  std::uint32_t length = 0;
  ring.GetWriteRegion(region, length);
  EXPECT_EQ(length, 64u);
}

TEST(CircularBufferTest, ABlockedReadWakesForDataForTheEndAndForACancel) {
  for (int wake = 0; wake < 3; ++wake) {
    SCOPED_TRACE(wake);
    TCircularBuffer ring(64);
    ring.Reset();
    std::atomic<std::uint32_t> result{999};
    std::thread reader([&] {
      std::uint8_t out[64];
      result = ring.Read(out, 64);
    });
    std::this_thread::sleep_for(
        5ms);  // give the reader a chance to block; correctness does not depend on it
    EXPECT_EQ(result.load(), 999u) << "an empty ring blocks";
    if (wake == 0)
      WritePattern(ring, 0, 7);
    else if (wake == 1)
      ring.SetDataEnded(true);
    else
      ring.Cancel();
    reader.join();
    EXPECT_EQ(result.load(), wake == 0 ? 7u : 0u);
  }
}

TEST(CircularBufferTest, ThreadedWriterAndReaderKeepEveryByteInOrder) {
  constexpr std::uint64_t kTotal = 8 << 20;
  TCircularBuffer ring(65536 + 12);  // not a power of two: offsets wrap at odd places
  ring.Reset();
  std::thread writer([&] {
    std::uint64_t offset = 0;
    std::uint32_t step = 1;
    while (offset < kTotal) {
      std::uint8_t* region = nullptr;
      std::uint32_t length = 0;
      ring.GetWriteRegion(region, length);
      if (length == 0) {
        std::this_thread::yield();
        continue;
      }
      const auto n =
          static_cast<std::uint32_t>(std::min<std::uint64_t>({length, kTotal - offset, step}));
      for (std::uint32_t i = 0; i < n; ++i)
        region[i] = test::PatternByte(offset + i);
      ring.CommitWrite(n);
      offset += n;
      step = step * 7 % 9001 + 1;
    }
    ring.SetDataEnded(true);
  });
  std::vector<std::uint8_t> out(5000);
  std::uint64_t offset = 0;
  std::int64_t mismatch = -1;
  for (std::uint32_t ask = 1;; ask = ask * 13 % 4999 + 1) {
    const std::uint32_t n = ring.Read(out.data(), ask);
    if (n == 0)
      break;
    if (mismatch < 0) {
      const std::int64_t at = test::FindPatternMismatch(out.data(), n, offset);
      if (at >= 0)
        mismatch = static_cast<std::int64_t>(offset) + at;
    }
    offset += n;
  }
  writer.join();
  EXPECT_EQ(offset, kTotal);
  EXPECT_EQ(mismatch, -1);
}

TEST(CircularBufferTest, DiscardWhileTheReaderReadsNeverReturnsForeignBytes) {
  // The writer writes runs of one byte value per "generation"; after a discard the reader may
  // finish its copy of old data, but every block it gets is one consistent run.
  TCircularBuffer ring(4096);
  ring.Reset();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::uint8_t value = 0;
    while (!stop.load()) {
      std::uint8_t* region = nullptr;
      std::uint32_t length = 0;
      ring.GetWriteRegion(region, length);
      if (length < 64) {
        std::this_thread::yield();
        continue;
      }
      std::memset(region, value, 64);
      ring.CommitWrite(64);
      ++value;
    }
    ring.SetDataEnded(true);
  });
  std::thread discarder([&] {
    for (int i = 0; i < 2000 && !stop.load(); ++i) {
      ring.Discard();
      std::this_thread::yield();
    }
  });
  std::uint8_t out[64];
  std::uint64_t total = 0;
  bool broken = false;
  while (total < (4u << 20)) {
    // Reads aligned to the 64-byte runs stay inside one run.
    const std::uint32_t n = ring.Read(out, 64);
    ASSERT_GT(n, 0u);
    for (std::uint32_t i = 1; i < n; ++i)
      broken |= out[i] != out[0];
    total += n;
  }
  stop = true;
  discarder.join();
  writer.join();
  EXPECT_FALSE(broken);
}

}  // namespace
}  // namespace djkivo
