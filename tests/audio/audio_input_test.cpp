// Covers audio/audio_input, audio_streamed_input, audio_file_in and audio_converter: opening
// and its errors, end-of-stream accounting against Size, looping, ReadInput, seeking, the
// converter's format, input change and removal.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_error.h"
#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using test::TMemoryPcmSource;
using test::TPassThrough;

TMemoryPcmSource::Config Source(std::uint64_t data, std::int64_t reported, std::uint32_t block) {
  TMemoryPcmSource::Config config;
  config.data_bytes = data;
  config.reported_size = reported;
  config.block_bytes = block;
  return config;
}

// Pulls `stage` dry (at most `limit` calls) and returns the block sizes.
std::vector<std::uint32_t> Drain(TAudioInput& stage, std::uint32_t ask, int limit = 100) {
  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < limit; ++i) {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = ask;
    stage.GetData(block, bytes);
    sizes.push_back(bytes);
    if (bytes == 0) {
      EXPECT_EQ(block, nullptr);
      break;
    }
  }
  return sizes;
}

// A converter that tracks being open and announces its own size.
class SizedPassThrough : public TPassThrough {
 public:
  explicit SizedPassThrough(std::int64_t size) : announced_(size) {}

 protected:
  void OpenStage() override {
    TPassThrough::OpenStage();
    size_.store(announced_);
    busy_.store(true);
  }
  void CloseStage() override {
    TPassThrough::CloseStage();
    busy_.store(false);
  }

 private:
  const std::int64_t announced_;
};

// A file source whose media cannot be read.
class UnreadableSource : public TAudioFileIn {
 public:
  UnreadableSource() { SetFileName("broken"); }
  bool SeekSample(std::int64_t&) override { return false; }

 protected:
  void OpenSource() override { valid_.store(false); }
  void CloseSource() override {}
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override {
    buffer = nullptr;
    bytes = 0;
  }
};

TEST(AudioInputTest, OpenFailuresArriveAsAudioErrorsWithTheirMessage) {
  {
    auto config = Source(1000, -2, 100);
    config.fail_open = "no such stream";
    TMemoryPcmSource source(config);
    try {
      source.Open();
      FAIL() << "Open must fail";
    } catch (const EAudioError& e) {
      EXPECT_STREQ(e.what(), "no such stream");
    }
    EXPECT_TRUE(source.AtEnd());
    EXPECT_FALSE(source.Busy()) << "a failed open must not leave the source open";
  }
  {
    TMemoryPcmSource source(Source(1000, -2, 100));
    source.Open();
    try {
      source.Open();
      FAIL() << "a second open must fail";
    } catch (const EAudioError& e) {
      EXPECT_STREQ(e.what(), "The component is Busy");
    }
    source.Close();
    EXPECT_FALSE(source.Busy());
    source.SetFileName("");
    try {
      source.Open();
      FAIL() << "an open without name must fail";
    } catch (const EAudioError& e) {
      EXPECT_STREQ(e.what(), "The file name is not assigned");
    }
  }
}

TEST(AudioInputTest, AnUnreadableSourceOpensWithNeutralDefaults) {
  UnreadableSource source;
  source.Open();
  EXPECT_EQ(source.SampleRate(), 8000u);
  EXPECT_EQ(source.BitsPerSample(), 8u);
  EXPECT_EQ(source.Channels(), 1u);
  EXPECT_EQ(source.Size(), 0);
  EXPECT_EQ(source.TotalTime(), 0u);
  EXPECT_EQ(Drain(source, 100), std::vector<std::uint32_t>{0});
  source.Close();
}

TEST(AudioInputTest, EndOfStreamAccountingAgainstSize) {
  struct Case {
    const char* name;
    bool converter;  // through a converter announcing `size`, the source announcing nothing
    std::uint64_t data;
    std::int64_t size;
    std::vector<std::uint32_t> blocks;
    std::int64_t position;
  };
  const Case cases[] = {
      {"source, exact size", false, 8192, 8192, {4096, 4096, 0}, 8192},
      {"source, data past size: cut at size", false, 10000, 7000, {4096, 2904, 0}, 7000},
      {"source, unknown size: runs to the data's end",
       false,
       10000,
       -1,
       {4096, 4096, 1808, 0},
       10000},
      {"source, size beyond the data", false, 5000, 9000, {4096, 904, 0}, 5000},
      {"converter, data past size: cut, position left past",
       true,
       10000,
       7000,
       {4096, 2904, 0},
       8192},
      {"converter ends only once position passed size", true, 10000, 8192, {4096, 4096, 0}, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryPcmSource source(Source(c.data, c.converter ? -1 : c.size, 4096));
    SizedPassThrough converter(c.size);
    converter.SetInput(&source);
    TAudioInput& stage = c.converter ? static_cast<TAudioInput&>(converter) : source;
    stage.Open();
    EXPECT_EQ(Drain(stage, 4096), c.blocks);
    EXPECT_EQ(stage.Position(), c.position);
    EXPECT_TRUE(stage.AtEnd());
    EXPECT_EQ(Drain(stage, 4096), std::vector<std::uint32_t>{0}) << "an ended stage stays ended";
    stage.Close();
  }
}

TEST(AudioInputTest, ALoopingSourceRestartsWithoutReportingAnEnd) {
  struct Case {
    const char* name;
    bool seekable;
    std::int64_t reported;
  };
  const Case cases[] = {
      {"seekable, known size", true, -2},
      {"cannot seek: close and reopen", false, -2},
      {"seekable, unknown size", true, -1},
      {"cannot seek, unknown size", false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto config = Source(10000, c.reported, 4096);
    config.seekable = c.seekable;
    TMemoryPcmSource source(config);
    source.SetLoop(true);
    source.Open();
    std::uint64_t total = 0;
    std::int64_t mismatch = -1;
    while (total < 35000) {
      std::uint8_t* block = nullptr;
      std::uint32_t bytes = 4096;
      source.GetData(block, bytes);
      ASSERT_GT(bytes, 0u) << "a looping source never ends";
      // Every pass starts the pattern again at offset 0, and no pass loses its tail.
      if (mismatch < 0 && test::FindPatternMismatch(block, bytes, total % 10000) >= 0)
        mismatch = static_cast<std::int64_t>(total);
      total += bytes;
    }
    EXPECT_EQ(mismatch, -1);
    if (c.seekable) {
      EXPECT_EQ(source.seeks(), 3);
      EXPECT_EQ(source.opens(), 1);
    } else {
      EXPECT_EQ(source.opens(), 4);
      EXPECT_EQ(source.closes(), 3);
    }
    source.Close();
  }
}

TEST(AudioInputTest, ReadInputFillsTheWholeRequestAcrossBlocks) {
  TMemoryPcmSource source(Source(12000, -2, 4096));
  source.Open();
  std::vector<std::uint8_t> out(10000);
  bool end = true;
  EXPECT_EQ(source.ReadInput(out.data(), 10000, end), 10000u);
  EXPECT_FALSE(end);
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 10000, 0), -1);
  EXPECT_EQ(source.ReadInput(out.data(), 10000, end), 2000u);
  EXPECT_TRUE(end);
  EXPECT_EQ(test::FindPatternMismatch(out.data(), 2000, 10000), -1);
  EXPECT_EQ(source.Position(), 12000);
  EXPECT_EQ(source.ReadInput(nullptr, 100, end), 0u);
  source.Close();
}

TEST(AudioInputTest, SeekJumpAndTheSampleWindow) {
  TMemoryPcmSource source(Source(40000, -2, 4096));  // 10,000 frames of 4 bytes
  source.Open();
  EXPECT_EQ(source.TotalSamples(), 10000);
  EXPECT_TRUE(source.Seek(1000));
  EXPECT_EQ(source.Position(), 4000);
  std::uint8_t* block = nullptr;
  std::uint32_t bytes = 100;
  source.GetData(block, bytes);
  EXPECT_EQ(test::FindPatternMismatch(block, bytes, 4000), -1);
  EXPECT_FALSE(source.Seek(10001)) << "beyond the end";
  source.Jump(500);  // from 4100 of 40000 bytes: to 0.6025 of the whole
  EXPECT_EQ(source.Position(), 6025 * 4);
  source.Jump(1000);
  EXPECT_EQ(source.Position(), 40000) << "clamped to the end";
  source.Close();

  source.SetStartSample(100);
  source.SetEndSample(199);
  source.Open();
  EXPECT_EQ(source.Size(), 400) << "frames 100..199 inclusive";
  EXPECT_EQ(Drain(source, 4096), (std::vector<std::uint32_t>{400, 0}));
  source.Close();
  EXPECT_EQ(source.StartSample(), 0) << "closing restores the whole";
  EXPECT_EQ(source.EndSample(), -1);
}

TEST(AudioConverterTest, FormatInputChangeAndRemoval) {
  auto odd = Source(1000, -2, 100);
  odd.bits = 16 | 128;  // a flag bit above the sample width
  odd.channels = 1;
  auto first = std::make_unique<TMemoryPcmSource>(odd);
  TMemoryPcmSource second(Source(2000, -2, 100));
  SizedPassThrough converter(-1);
  EXPECT_EQ(converter.BitsPerSample(), 0u);
  EXPECT_EQ(converter.SampleRate(), 0u);
  converter.SetInput(&converter);
  EXPECT_EQ(converter.Input(), nullptr) << "a converter never pulls from itself";

  converter.SetInput(first.get());
  EXPECT_EQ(converter.BitsPerSample(), 16u) << "masked to the low 7 bits";
  converter.SetRawBitsFlag(true);
  EXPECT_EQ(converter.BitsPerSample(), 144u);
  converter.SetRawBitsFlag(false);

  converter.Open();
  EXPECT_EQ(first->opens(), 1);
  converter.SetInput(&second);  // while open: the old input closes, the new one opens
  EXPECT_EQ(first->closes(), 1);
  EXPECT_EQ(second.opens(), 1);
  EXPECT_EQ(converter.Channels(), 2u);
  converter.Close();
  EXPECT_EQ(second.closes(), 1);

  converter.SetInput(first.get());
  first.reset();
  EXPECT_EQ(converter.Input(), nullptr) << "a destroyed input is dropped";
}

}  // namespace
}  // namespace djkivo
