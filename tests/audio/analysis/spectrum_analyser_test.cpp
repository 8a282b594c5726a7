// TSpectrumAnalyser as a stage of the chain: what it asks of its input, that it hands blocks
// on untouched, its reports and its levels.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_error.h"
#include "base/main_thread.h"
#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using std::chrono::milliseconds;
using test::TMemoryPcmSource;

class SpectrumAnalyserTest : public ::testing::Test {
 protected:
  SpectrumAnalyserTest() { MainThread::Install(&main_); }
  ~SpectrumAnalyserTest() override {
    analyser_.reset();
    source_.reset();
    MainThread::Install(nullptr);
  }

  void Make(std::uint64_t bytes, std::uint32_t channels, std::uint32_t block) {
    TMemoryPcmSource::Config config;
    config.data_bytes = bytes;
    config.channels = channels;
    config.block_bytes = block;
    source_ = std::make_unique<TMemoryPcmSource>(config);
    analyser_ = std::make_unique<TSpectrumAnalyser>();
    analyser_->SetInput(source_.get());
    analyser_->SetOnGainData([this](TComponent* sender) {
      EXPECT_EQ(sender, analyser_.get());
      EXPECT_TRUE(MainThread::Current()->IsMainThread());
      ++reports_;
    });
  }

  QueueMainThread main_;
  std::unique_ptr<TMemoryPcmSource> source_;
  std::unique_ptr<TSpectrumAnalyser> analyser_;
  int reports_ = 0;
};

TEST_F(SpectrumAnalyserTest, HandsOnTheInputsBlocksCappedAt1536Samples) {
  Make(1 << 20, 2, 1 << 20);
  analyser_->Open();
  EXPECT_TRUE(analyser_->Busy());
  EXPECT_EQ(analyser_->Size(), 1 << 20);
  std::uint64_t offset = 0;
  for (int pull = 0; pull < 12; ++pull) {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = 65536;
    analyser_->GetData(block, bytes);
    ASSERT_EQ(bytes, 3072u) << "1536 samples of 16-bit audio";
    EXPECT_EQ(test::FindPatternMismatch(block, bytes, offset), -1) << "altered at pull " << pull;
    offset += bytes;
  }
  EXPECT_EQ(source_->read_offset(), offset);
  // 12 pulls of 768 frames: reports on the 6th and the 12th.
  ASSERT_TRUE(main_.PumpUntil([this] { return reports_ == 2; }, milliseconds(5000)));
  const TSpectrumLevels levels = analyser_->Levels();
  for (float level : levels)
    EXPECT_NE(level, 0.0f) << "a report sets every level";
  analyser_->Close();
  EXPECT_FALSE(analyser_->Busy());
  EXPECT_EQ(analyser_->Levels(), levels) << "closing keeps the levels";
  analyser_->Open();
  EXPECT_EQ(analyser_->Levels(), TSpectrumLevels{}) << "opening clears them";
  analyser_->Close();
}

TEST_F(SpectrumAnalyserTest, NotMeasuringStillHandsOnAndReportsButLeavesTheLevels) {
  Make(1 << 20, 2, 1 << 20);
  analyser_->SetMeasuring(false);
  analyser_->Open();
  std::uint64_t offset = 0;
  const auto pull = [&] {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = 3072;
    analyser_->GetData(block, bytes);
    ASSERT_EQ(bytes, 3072u);
    EXPECT_EQ(test::FindPatternMismatch(block, bytes, offset), -1);
    offset += bytes;
  };
  for (int i = 0; i < 6; ++i)
    pull();
  ASSERT_TRUE(main_.PumpUntil([this] { return reports_ == 1; }, milliseconds(5000)));
  EXPECT_EQ(analyser_->Levels(), TSpectrumLevels{}) << "nothing measured since the open";
  analyser_->SetMeasuring(true);
  for (int i = 0; i < 6; ++i)
    pull();
  ASSERT_TRUE(main_.PumpUntil([this] { return reports_ == 2; }, milliseconds(5000)));
  for (float level : analyser_->Levels())
    EXPECT_NE(level, 0.0f) << "measured again";
  analyser_->Close();
}

TEST_F(SpectrumAnalyserTest, SmallPullsAndTheEndPassThrough) {
  Make(1000, 1, 20);
  analyser_->Open();
  std::uint32_t total = 0;
  for (;;) {
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = 4096;
    analyser_->GetData(block, bytes);
    if (bytes == 0)
      break;
    EXPECT_EQ(test::FindPatternMismatch(block, bytes, total), -1);
    total += bytes;
  }
  EXPECT_EQ(total, 1000u);
  EXPECT_TRUE(analyser_->AtEnd());
  analyser_->Close();
}

TEST_F(SpectrumAnalyserTest, OpenWithoutInputFails) {
  TSpectrumAnalyser analyser;
  EXPECT_THROW(analyser.Open(), EAudioError);
}

}  // namespace
}  // namespace djkivo
