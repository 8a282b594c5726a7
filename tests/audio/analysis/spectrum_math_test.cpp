// Sample conversions, InPlaceFFT and the band levels of SpectrumBands.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "audio/analysis/in_place_fft.h"
#include "audio/analysis/sample_conversion.h"
#include "audio/analysis/spectrum_bands.h"

namespace djkivo {
namespace {

TEST(SampleConversionTest, EndsAndMiddleOfEachWidth) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    void (*convert)(const void*, float*, std::size_t);
    std::vector<float> expected;
  };
  const Case cases[] = {
      {{128, 0, 255}, Int8ToFloat, {0.0f, -1.0f, 0.9921875f}},
      {{0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00},
       Int16ToFloat,
       {-1.0f, 32767.0f / 32768.0f, 1.0f / 32768.0f}},
      {{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF},
       Int24ToFloat,
       {-1.0f, 0.99999988f, -1.0f / 8388608.0f}},
      {{0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x40}, Int32ToFloat, {-1.0f, 0.5f}},
  };
  for (const Case& c : cases) {
    // One byte of offset: the routines must not rely on alignment.
    std::vector<std::uint8_t> unaligned(1);
    unaligned.insert(unaligned.end(), c.bytes.begin(), c.bytes.end());
    std::vector<float> out(c.expected.size() + 1, 42.0f);
    c.convert(unaligned.data() + 1, out.data(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_FLOAT_EQ(out[i], c.expected[i]) << "sample " << i;
    EXPECT_EQ(out.back(), 42.0f) << "wrote past the count";
  }
}

TEST(InPlaceFftTest, OnesGiveAllEnergyInBinZero) {
  TComplexSingle x[16];
  for (auto& v : x)
    v = {1.0f, 0.0f};
  InPlaceFFT(x, 16, 1);
  EXPECT_FLOAT_EQ(x[0].Re, 16.0f);
  EXPECT_FLOAT_EQ(x[0].Im, 0.0f);
  for (int k = 1; k < 16; ++k) {
    EXPECT_NEAR(x[k].Re, 0.0f, 1e-5) << k;
    EXPECT_NEAR(x[k].Im, 0.0f, 1e-5) << k;
  }
}

TEST(InPlaceFftTest, MatchesTheDefinitionBothWays) {
  for (std::size_t n : {2u, 8u, 16u, 64u}) {
    std::vector<TComplexSingle> x(n);
    for (std::size_t i = 0; i < n; ++i)
      x[i] = {std::sin(0.7f * i) + 0.25f, std::cos(1.3f * i)};
    for (int direction : {1, -1}) {
      std::vector<TComplexSingle> got = x;
      InPlaceFFT(got.data(), n, direction);
      const double sign = direction == 1 ? -1.0 : 1.0;
      for (std::size_t k = 0; k < n; ++k) {
        double re = 0;
        double im = 0;
        for (std::size_t j = 0; j < n; ++j) {
          const double a = sign * 2 * M_PI * static_cast<double>(j * k) / n;
          re += x[j].Re * std::cos(a) - x[j].Im * std::sin(a);
          im += x[j].Re * std::sin(a) + x[j].Im * std::cos(a);
        }
        EXPECT_NEAR(got[k].Re, re, 1e-3 * n) << "n=" << n << " k=" << k << " dir=" << direction;
        EXPECT_NEAR(got[k].Im, im, 1e-3 * n) << "n=" << n << " k=" << k << " dir=" << direction;
      }
    }
  }
}

TEST(InPlaceFftTest, SixteenPointPathIsBitIdentical) {
  std::uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    TComplexSingle a[16];
    for (auto& v : a) {
      seed = seed * 1103515245u + 12345u;
      v = {static_cast<float>(static_cast<std::int32_t>(seed) >> 8) / 8388608.0f,
           round % 2 ? 0.0f : static_cast<float>(seed % 1000) / 999.0f};
    }
    TComplexSingle b[16];
    std::memcpy(b, a, sizeof a);
    InPlaceFFT(a, 16, 1);
    InPlaceFFT16(b);
    ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;
  }
}

// Interleaved 16-bit PCM of `frames` frames, every channel the same signal.
std::vector<std::uint8_t> Pcm16(std::uint32_t frames, unsigned channels, double (*signal)(double),
                                double cycles_per_frame) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t f = 0; f < frames; ++f) {
    const auto v = static_cast<std::int16_t>(std::lrint(32767.0 * signal(f * cycles_per_frame)));
    for (unsigned c = 0; c < channels; ++c) {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  return out;
}

double Zero(double) { return 0.0; }
double Sine(double cycles) { return std::sin(2 * M_PI * cycles); }

TEST(SpectrumBandsTest, SilenceReportsMinusFortyInEveryBand) {
  SpectrumBands bands;
  bands.Open(2);
  const auto pcm = Pcm16(768, 2, Zero, 0);
  int pulls = 0;
  while (!bands.Analyse(pcm.data(), static_cast<std::uint32_t>(pcm.size()), 2, 44100, 100))
    ++pulls;
  EXPECT_EQ(pulls + 1, 6) << "the report comes on the 6th pull of 768 frames";
  for (float level : bands.Levels())
    EXPECT_FLOAT_EQ(level, -40.0f);
}

TEST(SpectrumBandsTest, FullScaleSineLightsItsBand) {
  const float expected[8] = {0, 97, 106, 111, 115, 117, 118, 119};
  for (int bin = 1; bin < 8; ++bin) {
    SpectrumBands bands;
    bands.Open(2);
    // Whole cycles per 768 frames keep each pull the same signal.
    const auto pcm = Pcm16(768, 2, Sine, bin / 16.0);
    while (!bands.Analyse(pcm.data(), static_cast<std::uint32_t>(pcm.size()), 2, 44100, 100)) {
    }
    for (int k = 0; k < 8; ++k) {
      if (k == bin)
        EXPECT_NEAR(bands.Levels()[k], expected[bin], 1.0) << "bin " << bin;
      else
        EXPECT_LT(bands.Levels()[k], 0.0f) << "bin " << bin << " band " << k;
    }
  }
}

TEST(SpectrumBandsTest, CounterBlocksAndCarryOver) {
  SpectrumBands bands;
  bands.Open(2);
  const auto pcm = Pcm16(768, 2, Zero, 0);
  EXPECT_FALSE(bands.Analyse(pcm.data(), 768 * 4, 2, 44100, 100));
  EXPECT_EQ(bands.Counter(), 1741u) << "768 / 44100 * 100000 = 1741.497";
  EXPECT_EQ(bands.BlockCount(), 48u);
  // 20 frames: one block, the last 4 frames not analysed.
  EXPECT_FALSE(bands.Analyse(pcm.data(), 20 * 4, 2, 44100, 100));
  EXPECT_EQ(bands.BlockCount(), 49u);
  // More than 1536 samples: only 1536 are analysed.
  const auto big = Pcm16(2000, 2, Zero, 0);
  EXPECT_FALSE(bands.Analyse(big.data(), 2000 * 4, 2, 44100, 1000));
  EXPECT_EQ(bands.BlockCount(), 97u);
  // A new run keeps the audio-time counter but clears the blocks and levels.
  const std::uint32_t counter = bands.Counter();
  bands.Open(2);
  EXPECT_EQ(bands.Counter(), counter);
  EXPECT_EQ(bands.BlockCount(), 0u);
}

TEST(SpectrumBandsTest, ReportWithoutBlocksKeepsTheLevels) {
  SpectrumBands bands;
  bands.Open(2);
  const auto pcm = Pcm16(768, 2, Zero, 0);
  while (!bands.Analyse(pcm.data(), 768 * 4, 2, 44100, 100)) {
  }
  ASSERT_FLOAT_EQ(bands.Levels()[3], -40.0f);
  // 10 frames: no block, but time passes; at 1 Hz 10 frames are 10 s, so a report falls due.
  const auto sine = Pcm16(10, 2, Sine, 0.25);
  EXPECT_TRUE(bands.Analyse(sine.data(), 10 * 4, 2, 1, 100));
  EXPECT_FLOAT_EQ(bands.Levels()[3], -40.0f);

  // Not measuring: a full-scale sine passes as time only, the report comes on the same pull
  // and the silence's levels stay.
  const auto loud = Pcm16(768, 2, Sine, 3 / 16.0);
  int pulls = 1;
  while (!bands.Analyse(loud.data(), 768 * 4, 2, 44100, 100, /*measure=*/false)) {
    EXPECT_EQ(bands.BlockCount(), 0u);
    ++pulls;
  }
  EXPECT_EQ(pulls, 6);
  EXPECT_FLOAT_EQ(bands.Levels()[3], -40.0f);
  // Measuring again, the next report is of the sine alone.
  while (!bands.Analyse(loud.data(), 768 * 4, 2, 44100, 100)) {
  }
  EXPECT_NEAR(bands.Levels()[3], 111.0f, 1.0f);
}

TEST(SpectrumBandsTest, MonoAndStereoOfTheSameSignalAgree) {
  SpectrumBands mono;
  SpectrumBands stereo;
  mono.Open(2);
  stereo.Open(2);
  const auto one = Pcm16(768, 1, Sine, 3 / 16.0);
  const auto two = Pcm16(768, 2, Sine, 3 / 16.0);
  bool due = false;
  while (!due) {
    due = mono.Analyse(one.data(), static_cast<std::uint32_t>(one.size()), 1, 44100, 100);
    EXPECT_EQ(stereo.Analyse(two.data(), static_cast<std::uint32_t>(two.size()), 2, 44100, 100),
              due);
  }
  for (int k = 0; k < 8; ++k)
    EXPECT_FLOAT_EQ(mono.Levels()[k], stereo.Levels()[k]) << k;
}

}  // namespace
}  // namespace djkivo
