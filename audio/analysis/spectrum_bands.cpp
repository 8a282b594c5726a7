#include "audio/analysis/spectrum_bands.h"

#include <cmath>

#include "audio/analysis/in_place_fft.h"
#include "audio/analysis/sample_conversion.h"

namespace djkivo {

namespace {

// The band weights use pi to 12 significant digits, as the levels have always been computed.
constexpr double kPi = 3.14159265359;
// Audio-time counter units per second (10 microseconds each).
constexpr double kCounterPerSecond = 100000.0;
// The DC blocker's feedback factor.
constexpr float kDcBlock = 0.9f;

}  // namespace

void SpectrumBands::Open(unsigned bytes_per_sample) {
  bytes_per_sample_ = bytes_per_sample;
  block_count_ = 0;
  band_sums_.fill(0.0f);
  levels_.fill(0.0f);
}

bool SpectrumBands::Analyse(const std::uint8_t* data, std::uint32_t bytes, unsigned channels,
                            unsigned sample_rate, unsigned interval_ms, bool measure) {
  if (!data || bytes == 0 || channels == 0 || sample_rate == 0 || bytes_per_sample_ == 0)
    return false;
  std::uint32_t samples = bytes / bytes_per_sample_;
  if (samples > kMaxSamples)
    samples = kMaxSamples;
  if (measure && bytes_per_sample_ <= 4)
    AnalyseBlocks(data, samples, channels);
  // Widths without a conversion are not analysed, but their time still counts, so the
  // report keeps ticking.
  const std::uint32_t frames = samples / channels;
  counter_ += static_cast<std::uint32_t>(
      std::nearbyint(static_cast<double>(frames) / sample_rate * kCounterPerSecond));
  if (counter_ < interval_ms * 100u)
    return false;
  counter_ = 0;  // the excess is dropped
  if (block_count_ != 0) {
    for (int k = 0; k < 8; ++k) {
      const double weight = std::sin((k + 0.5) * kPi / 16.0);
      const double mean = static_cast<double>(band_sums_[k]) * 0.125 / block_count_;
      levels_[k] = static_cast<float>(40.0 * (3.0 + std::log10(weight * mean + 0.0001)));
      band_sums_[k] = 0.0f;
    }
  }
  block_count_ = 0;
  return true;
}

void SpectrumBands::AnalyseBlocks(const std::uint8_t* data, std::uint32_t samples,
                                  unsigned channels) {
  float converted[kMaxSamples];
  switch (bytes_per_sample_) {
    case 1:
      Int8ToFloat(data, converted, samples);
      break;
    case 2:
      Int16ToFloat(data, converted, samples);
      break;
    case 3:
      Int24ToFloat(data, converted, samples);
      break;
    default:
      Int32ToFloat(data, converted, samples);
      break;
  }
  const std::uint32_t frames = samples / channels;
  if (frames == 0)
    return;
  // Mono mix and the first-order DC blocker (restarted on every call), one frame at a time,
  // straight into the FFT blocks; the frames after the last whole block are not analysed.
  const auto mix = [&](std::uint32_t f) {
    const float* frame = converted + static_cast<std::size_t>(f) * channels;
    float sum = frame[0];
    for (unsigned c = 1; c < channels; ++c)
      sum += frame[c];
    return sum / static_cast<float>(channels);
  };
  float previous_mono = mix(0);
  float filtered = previous_mono;
  TComplexSingle x[kBlockFrames];
  for (std::uint32_t b = 0; b < frames / kBlockFrames; ++b) {
    for (std::uint32_t k = 0; k < kBlockFrames; ++k) {
      const std::uint32_t f = b * kBlockFrames + k;
      if (f > 0) {
        const float mono = mix(f);
        filtered = (filtered + mono - previous_mono) * kDcBlock;
        previous_mono = mono;
      }
      x[k] = {filtered, 0.0f};
    }
    InPlaceFFT16(x);
    ++block_count_;
    for (int k = 0; k < 8; ++k)
      band_sums_[k] += std::sqrt(x[k].Re * x[k].Re + x[k].Im * x[k].Im);
  }
}

}  // namespace djkivo
